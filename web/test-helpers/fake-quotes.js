'use strict';

// A stand-in for the Tencent quote endpoint on loopback. It answers either
// a fixed body (a recorded sample) or lines built from prices the test sets,
// in the endpoint's GBK encoding.

const http = require('http');

// GBK bytes of the names used in tests.
const GBK_NAMES = {
  sh600519: Buffer.from('b9f3d6ddc3a9cca8', 'hex'), // 贵州茅台
  hk00700: Buffer.from('ccdad1b6bfd8b9c9', 'hex'), // 腾讯控股
  sz000001: Buffer.from('c6bdb0b2d2f8d0d0', 'hex'), // 平安银行
};

function quoteLine(symbol, price) {
  const hk = symbol.startsWith('hk');
  const fields = new Array(50).fill('0');
  fields[0] = hk ? '100' : '1';
  fields[2] = symbol.slice(2);
  fields[3] = price.toFixed(hk ? 3 : 2);
  fields[4] = price.toFixed(2);
  fields[30] = hk ? '2024/01/05 16:08:08' : '20240105150003';
  const [before, after] = [`${fields[0]}~`, `~${fields.slice(2).join('~')}`];
  return Buffer.concat([
    Buffer.from(`v_${symbol}="${before}`),
    GBK_NAMES[symbol] || Buffer.from(symbol.toUpperCase()),
    Buffer.from(`${after}";\n`),
  ]);
}

async function startFakeQuotes() {
  const state = { prices: {}, fixed: null, status: 200, hang: false, gate: null, requests: [] };
  const server = http.createServer(async (req, res) => {
    state.requests.push(req.url);
    if (state.hang) return; // never answers
    if (state.gate) await state.gate; // answers once the test opens it
    if (state.status !== 200) {
      res.writeHead(state.status);
      res.end('error');
      return;
    }
    let body = state.fixed;
    if (!body) {
      const symbols = decodeURIComponent(req.url.replace(/^\/q=/, '')).split(',');
      body = Buffer.concat(symbols.filter((s) => s in state.prices).map((s) => quoteLine(s, state.prices[s])));
      if (body.length === 0) body = Buffer.from('v_pv_none_match="1";\n');
    }
    res.writeHead(200, { 'Content-Type': 'text/html; charset=GBK' });
    res.end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    state,
    url: `http://127.0.0.1:${server.address().port}/q=`,
    setPrice(symbol, price) { state.prices[symbol] = price; },
    close() {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(resolve));
    },
  };
}

module.exports = { startFakeQuotes };
