'use strict';

// The Tencent quote source, against a recorded GBK response served on
// loopback, and its refusal of answers it cannot trust.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startService } = require('../test-helpers/service');
const { startFakeQuotes } = require('../test-helpers/fake-quotes');
const { parseTencentResponse } = require('../lib/providers/tencent-parse');

const SAMPLE = fs.readFileSync(path.join(__dirname, 'fixtures', 'tencent-sample.gbk.txt'));
const SYMBOLS = ['sh600519', 'sz000001', 'hk00700', 'sz000002', 'sh688999'];

async function serviceOnFake(t, settings = {}) {
  const quotes = await startFakeQuotes();
  t.after(() => quotes.close());
  const svc = await startService({
    settings: { QUOTE_PROVIDER: 'tencent', QUOTE_TENCENT_URL: quotes.url, ...settings },
  });
  t.after(() => svc.stop());
  for (const symbol of SYMBOLS) await svc.post('/api/watchlist', { symbol });
  return { svc, quotes };
}

test('recorded sample', async (t) => {
  const { svc, quotes } = await serviceOnFake(t);
  quotes.state.fixed = SAMPLE;
  const res = await svc.post('/api/quotes/sync');
  assert.equal(res.status, 200, res.text);

  await t.test('asks for all watched codes in one request', () => {
    assert.deepEqual(quotes.state.requests, [`/q=${SYMBOLS.join(',')}`]);
  });

  await t.test('decodes GBK names and the fields of mainland and Hong Kong quotes', async () => {
    const items = Object.fromEntries((await svc.get('/api/watchlist')).json.items.map((i) => [i.symbol, i]));
    assert.equal(items.sh600519.name, '贵州茅台');
    assert.deepEqual(
      (({ fetchedAt, ...q }) => q)(items.sh600519.quote),
      {
        symbol: 'sh600519', name: '贵州茅台', price: 1705, prevClose: 1690.01, open: 1692,
        change: 14.99, changePercent: 0.89, high: 1712, low: 1688.88, time: '2024-01-05T15:00:03+08:00',
      },
    );
    assert.equal(items.sz000001.quote.name, '平安银行');
    assert.equal(items.sz000001.quote.change, -0.07);
    assert.equal(items.hk00700.quote.name, '腾讯控股');
    assert.equal(items.hk00700.quote.price, 290.6);
    assert.equal(items.hk00700.quote.time, '2024-01-05T16:08:08+08:00');
  });

  await t.test('reports codes without a usable price instead of storing zero', async () => {
    assert.equal(res.json.updated, 3);
    assert.deepEqual(res.json.missing.map((m) => m.symbol), ['sz000002', 'sh688999']);
    assert.match(res.json.missing[0].reason, /停牌/);
    const items = (await svc.get('/api/watchlist')).json.items;
    assert.equal(items.find((i) => i.symbol === 'sz000002').quote, null);
  });

  await t.test('a below rule is not fired by a missing price', async () => {
    await svc.post('/api/rules', { symbol: 'sz000002', direction: 'below', price: 9 });
    assert.equal((await svc.post('/api/quotes/sync')).json.alertsRaised, 0);
  });
});

test('answers that are not quotes fail the sync with 502 and change nothing', async (t) => {
  const { svc, quotes } = await serviceOnFake(t, { QUOTE_TIMEOUT_SECONDS: 0.5 });
  quotes.state.fixed = SAMPLE;
  await svc.post('/api/quotes/sync');
  const before = svc.readStore();

  const cases = {
    'error status': () => { quotes.state.status = 500; },
    'an HTML page': () => {
      quotes.state.status = 200;
      quotes.state.fixed = Buffer.from('<html><body>Service Unavailable</body></html>');
    },
    'an empty body': () => { quotes.state.fixed = Buffer.alloc(0); },
    'a truncated line': () => { quotes.state.fixed = SAMPLE.subarray(0, 300); },
    'no answer within the timeout': () => { quotes.state.hang = true; },
  };
  for (const [name, arrange] of Object.entries(cases)) {
    arrange();
    const started = Date.now();
    const res = await svc.post('/api/quotes/sync');
    assert.equal(res.status, 502, name);
    assert.equal(typeof res.json.error, 'string');
    assert.ok(Date.now() - started < 3000, `${name} took too long`);
  }
  assert.deepEqual(svc.readStore(), before);
});

test('parsing is strict about each quote', () => {
  const line = (fields) => `v_sh600519="${fields.join('~')}";`;
  const good = new Array(40).fill('0');
  Object.assign(good, { 0: '1', 1: 'X', 2: '600519', 3: '10.00', 4: '9.50', 30: '20240105150003' });

  assert.equal(parseTencentResponse(line(good), ['sh600519']).quotes.sh600519.price, 10);
  const bad = {
    'code of another stock': { 2: '600520' },
    'price not a number': { 3: '1O.00' },
    'impossible time': { 30: '20241305150003' },
    'time in another format': { 30: '2024-01-05 15:00:03' },
    'no name': { 1: '' },
  };
  for (const [name, change] of Object.entries(bad)) {
    const result = parseTencentResponse(line(Object.assign([...good], change)), ['sh600519']);
    assert.deepEqual(Object.keys(result.quotes), [], name);
    assert.equal(result.missing.length, 1, name);
  }
  assert.equal(parseTencentResponse(line(good.slice(0, 20)), ['sh600519']).missing.length, 1);
});
