'use strict';

const http = require('http');
const https = require('https');
const { ProviderError } = require('./errors');
const { parseTencentResponse } = require('./tencent-parse');

const MAX_RESPONSE_BYTES = 2 * 1024 * 1024;
const MAX_SYMBOLS_PER_REQUEST = 60;

// GETs url and resolves with the body as a Buffer. Anything but a complete
// 200 answer within timeoutMs rejects with a ProviderError.
function fetchBody(url, timeoutMs) {
  return new Promise((resolve, reject) => {
    const client = url.protocol === 'https:' ? https : http;
    let settled = false;
    const finish = (err, body) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      if (err) reject(err);
      else resolve(body);
    };
    const req = client.get(url, { headers: { Accept: '*/*' } }, (res) => {
      if (res.statusCode !== 200) {
        res.resume();
        finish(new ProviderError(`行情服务返回状态 ${res.statusCode}`));
        return;
      }
      const chunks = [];
      let size = 0;
      res.on('data', (chunk) => {
        size += chunk.length;
        if (size > MAX_RESPONSE_BYTES) {
          req.destroy();
          finish(new ProviderError('行情服务返回的内容过大'));
          return;
        }
        chunks.push(chunk);
      });
      res.on('end', () => finish(null, Buffer.concat(chunks)));
      res.on('error', (err) => finish(new ProviderError(`读取行情失败：${err.message}`)));
    });
    const timer = setTimeout(() => {
      req.destroy();
      finish(new ProviderError(`行情服务在 ${timeoutMs / 1000} 秒内没有应答`));
    }, timeoutMs);
    req.on('error', (err) => finish(new ProviderError(`无法连接行情服务：${err.code || err.message}`)));
  });
}

function createTencentProvider({ baseUrl, timeoutMs }) {
  // Validate the configured address once, at start-up.
  const probe = new URL(`${baseUrl}sh600519`);
  if (probe.protocol !== 'http:' && probe.protocol !== 'https:') {
    throw new Error(`QUOTE_TENCENT_URL must be an http(s) address, got "${baseUrl}"`);
  }
  const decoder = new TextDecoder('gbk');

  async function fetchQuotes(symbols) {
    const result = { quotes: {}, missing: [] };
    for (let i = 0; i < symbols.length; i += MAX_SYMBOLS_PER_REQUEST) {
      const batch = symbols.slice(i, i + MAX_SYMBOLS_PER_REQUEST);
      const body = await fetchBody(new URL(baseUrl + batch.join(',')), timeoutMs);
      const parsed = parseTencentResponse(decoder.decode(body), batch);
      Object.assign(result.quotes, parsed.quotes);
      result.missing.push(...parsed.missing);
    }
    return result;
  }

  return { name: 'tencent', fetchQuotes };
}

module.exports = { createTencentProvider };
