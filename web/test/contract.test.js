'use strict';

// What the desktop shell relies on: its token on every answer, the pending
// list, acknowledgements, the quote sync, and rules that raise one alert per
// crossing.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const { startService, closedPort, makeDataDir } = require('../test-helpers/service');
const { startFakeQuotes } = require('../test-helpers/fake-quotes');
const { decodePending } = require('../test-helpers/desktop-decoder');

const URL_SAFE_ID = /^[A-Za-z0-9._~-]+$/;

// A service whose quotes come from a loopback stand-in the test controls.
async function serviceWithQuotes(t, options = {}) {
  const quotes = await startFakeQuotes();
  t.after(() => quotes.close());
  const svc = await startService({ ...options, settings: { QUOTE_PROVIDER: 'tencent', QUOTE_TENCENT_URL: quotes.url } });
  t.after(() => svc.stop());
  return { svc, quotes };
}

async function syncAt(svc, quotes, prices) {
  for (const [symbol, price] of Object.entries(prices)) quotes.setPrice(symbol, price);
  const res = await svc.post('/api/quotes/sync');
  assert.equal(res.status, 200, res.text);
  return res.json;
}

// The pending list as the desktop client decodes it.
async function pending(svc) {
  const res = await svc.get('/api/desktop-notifications/pending');
  assert.equal(res.status, 200);
  return decodePending(res.text);
}

// Sends raw bytes and resolves with the headers of the answer, lower case.
function rawAnswerHeaders(port, bytes) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.end(bytes));
    let text = '';
    socket.setEncoding('latin1');
    socket.on('data', (d) => { text += d; });
    socket.on('error', reject);
    socket.on('close', () => resolve({
      status: Number(text.split(' ')[1]),
      headers: Object.fromEntries(text.split('\r\n\r\n')[0].split('\r\n').slice(1)
        .map((l) => [l.slice(0, l.indexOf(':')).toLowerCase(), l.slice(l.indexOf(':') + 1).trim()])),
    }));
  });
}

test('the launch proof comes back with every kind of answer', async (t) => {
  const token = 'e2e-token-0c55ad015e2e9f86d081884c7d659a2f';
  const proof = 'e2e-9f86d081884c7d659a2feaa0c55ad015';
  const launched = await startService({ env: { QUORVEL_SERVICE_TOKEN: token, QUORVEL_SERVICE_PROOF: proof } });
  t.after(() => launched.stop());
  // The proof is the shell's: one in the settings file does not count.
  const plain = await startService({ settings: { QUORVEL_SERVICE_PROOF: proof } });
  t.after(() => plain.stop());

  const withToken = { 'X-Quorvel-Service-Token': token };
  const answers = [
    ['GET', '/', {}, 200],
    ['HEAD', '/', {}, 200],
    ['GET', '/app.js', {}, 200],
    ['GET', '/api/status', { headers: withToken }, 200],
    ['GET', '/api/status', {}, 401],
    ['POST', '/api/desktop-notifications/initialize', { headers: withToken }, 204],
    ['POST', '/api/watchlist', { json: { symbol: 'nonsense' }, headers: withToken }, 400],
    ['GET', '/api/status', { headers: { ...withToken, Host: 'evil.example:45721' } }, 403],
    ['POST', '/api/desktop-notifications/n-999/mark-notified', { headers: withToken }, 404],
    ['GET', '/nosuch.html', { headers: withToken }, 404],
    ['PUT', '/api/status', { headers: withToken }, 405],
  ];
  for (const [method, path, options, status] of answers) {
    const res = await launched.request(method, path, options);
    assert.equal(res.status, status, `${method} ${path}`);
    assert.equal(res.headers['x-quorvel-service-proof'], proof, `${method} ${path}`);
    // Neither secret is ever told to whoever asks.
    assert.ok(!JSON.stringify(res.headers).includes(token) && !res.text.includes(token), `${method} ${path}`);
    if (status === 401) continue;
    const other = await plain.request(method, path, options);
    assert.equal(other.status, status, `${method} ${path}`);
    assert.equal(other.headers['x-quorvel-service-proof'], undefined, `${method} ${path}`);
  }
  // What Node answers by itself: a request line it cannot parse.
  const garbled = await rawAnswerHeaders(launched.port, 'GET / HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n');
  assert.equal(garbled.status, 400);
  assert.equal(garbled.headers['x-quorvel-service-proof'], proof);
  assert.equal((await rawAnswerHeaders(plain.port, 'GET / HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n'))
    .headers['x-quorvel-service-proof'], undefined);
});

test('desktop notifications', async (t) => {
  const { svc, quotes } = await serviceWithQuotes(t);
  await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
  await svc.post('/api/rules', { symbol: 'hk00700', direction: 'below', price: 300 });

  await t.test('initialize takes an empty POST without content type and records the client', async () => {
    const res = await svc.request('POST', '/api/desktop-notifications/initialize', {
      headers: { 'X-Quorvel-Desktop': '1', 'X-Quorvel-Device': 'desktop' },
    });
    assert.equal(res.status, 204);
    const { desktop } = (await svc.get('/api/status')).json;
    assert.equal(desktop.device, 'desktop');
    assert.equal(desktop.initializeCount, 1);
    assert.ok(!Number.isNaN(Date.parse(desktop.initializedAt)));
  });

  await t.test('nothing pending yet gives an empty list, without sign-in', async () => {
    const res = await svc.get('/api/desktop-notifications/pending');
    assert.equal(res.status, 200);
    assert.deepEqual(res.json, { notifications: [] });
  });

  await t.test('pending lists alerts in the order they were raised, with the agreed fields', async () => {
    await syncAt(svc, quotes, { sh600519: 1810, hk00700: 310 }); // Moutai fires
    await syncAt(svc, quotes, { sh600519: 1811, hk00700: 295.5 }); // Tencent fires
    const list = await pending(svc);
    assert.equal(list.length, 2);
    for (const n of list) {
      assert.deepEqual(Object.keys(n).sort(), ['id', 'messageBody', 'messageTitle', 'sourceId', 'sourceType']);
      assert.match(n.id, URL_SAFE_ID);
      for (const key of Object.keys(n)) assert.equal(typeof n[key], 'string');
    }
    assert.match(list[0].messageTitle, /贵州茅台/);
    assert.match(list[0].messageBody, /1810\.00/);
    assert.match(list[0].messageBody, /高于提醒价 1800\.00/);
    assert.match(list[1].messageTitle, /腾讯控股/);
    assert.match(list[1].messageBody, /295\.50 港元/);
    assert.match(list[1].messageBody, /低于/);
    assert.notEqual(list[0].id, list[1].id);
  });

  await t.test('acknowledging removes exactly that record', async () => {
    const [first, second] = await pending(svc);
    const res = await svc.request('POST', `/api/desktop-notifications/${first.id}/mark-notified`);
    assert.equal(res.status, 204);
    assert.deepEqual(await pending(svc), [second]);
    // A repeated acknowledgement changes nothing.
    assert.equal((await svc.request('POST', `/api/desktop-notifications/${first.id}/mark-notified`)).status, 204);
    assert.deepEqual(await pending(svc), [second]);
    const { alerts } = (await svc.get('/api/alerts')).json;
    assert.equal(alerts.length, 2, 'acknowledged alerts stay in the history');
  });

  await t.test('an unknown id gives 404 and changes nothing', async () => {
    const before = await pending(svc);
    for (const id of ['n-999', 'nonsense', '%E4%B8%AD']) {
      const res = await svc.request('POST', `/api/desktop-notifications/${id}/mark-notified`);
      assert.equal(res.status, 404, id);
      assert.equal(typeof res.json.error, 'string');
    }
    assert.deepEqual(await pending(svc), before);
  });
});

test('quote sync', async (t) => {
  await t.test('offline quotes: stored with their time, and they move between syncs', async (t) => {
    const svc = await startService();
    t.after(() => svc.stop());
    await svc.post('/api/watchlist', { symbol: 'sh600519' });
    await svc.post('/api/watchlist', { symbol: 'hk00700' });
    const first = await svc.request('POST', '/api/quotes/sync');
    assert.equal(first.status, 200);
    assert.equal(first.json.updated, 2);
    const q1 = (await svc.get('/api/watchlist')).json.items.map((i) => i.quote);
    for (const q of q1) {
      assert.ok(q.price > 0);
      assert.match(q.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+08:00$/);
    }
    await svc.post('/api/quotes/sync');
    const q2 = (await svc.get('/api/watchlist')).json.items.map((i) => i.quote);
    assert.notEqual(q2[0].price, q1[0].price);
    assert.equal(svc.readStore().quotes.sh600519.price, q2[0].price);
  });

  await t.test('the service syncs by itself', async (t) => {
    const dataDir = makeDataDir();
    t.after(() => fs.rmSync(dataDir, { recursive: true, force: true }));
    fs.writeFileSync(`${dataDir}/store.json`, JSON.stringify({ watchlist: [{ symbol: 'sz000001' }] }));
    const svc = await startService({ dataDir, settings: { QUOTE_SYNC_INTERVAL_SECONDS: 5 } });
    t.after(() => svc.stop());
    const deadline = Date.now() + 5000;
    while (!fs.readFileSync(svc.storeFile, 'utf8').includes('"fetchedAt"') && Date.now() < deadline) {
      await new Promise((r) => setTimeout(r, 100));
    }
    const stored = svc.readStore();
    assert.equal(stored.sync.count, 1);
    assert.equal(stored.quotes.sz000001.name, '平安银行');
  });

  await t.test('an unreachable provider gives 502 and keeps the stored quotes', async (t) => {
    const port = await closedPort();
    const svc = await startService({
      settings: { QUOTE_PROVIDER: 'tencent', QUOTE_TENCENT_URL: `http://127.0.0.1:${port}/q=` },
    });
    t.after(() => svc.stop());
    await svc.post('/api/watchlist', { symbol: 'sz000001' });
    const before = svc.readStore();
    const res = await svc.request('POST', '/api/quotes/sync');
    assert.equal(res.status, 502);
    assert.match(res.json.error, /无法连接行情服务/);
    assert.deepEqual(svc.readStore(), before);
    const { sync } = (await svc.get('/api/status')).json;
    assert.equal(sync.ok, false);
  });

  await t.test('an unknown provider name fails the sync instead of the service', async (t) => {
    const svc = await startService({ settings: { QUOTE_PROVIDER: 'nosuch' } });
    t.after(() => svc.stop());
    await svc.post('/api/watchlist', { symbol: 'sz000001' });
    const res = await svc.request('POST', '/api/quotes/sync');
    assert.equal(res.status, 502);
    assert.match(res.json.error, /nosuch/);
  });
});

test('alert rules', async (t) => {
  await t.test('a rule fires once per crossing and re-arms when its condition turns false', async (t) => {
    const { svc, quotes } = await serviceWithQuotes(t);
    const rule = (await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 })).json.rule;
    assert.equal((await svc.get('/api/watchlist')).json.items[0].symbol, 'sh600519', 'the rule adds its stock');

    const raised = [];
    for (const price of [1790, 1800, 1805, 1850, 1799.99, 1801, 1802]) {
      raised.push((await syncAt(svc, quotes, { sh600519: price })).alertsRaised);
    }
    assert.deepEqual(raised, [0, 1, 0, 0, 0, 1, 0]);
    const list = await pending(svc);
    assert.equal(list.length, 2);
    assert.ok(list.every((n) => n.sourceId === rule.id));
    assert.match(list[1].messageBody, /1801\.00/);
    const stored = (await svc.get('/api/rules')).json.rules[0];
    assert.equal(stored.armed, false);
  });

  await t.test('a below rule, an unquoted code, and a removed rule', async (t) => {
    const { svc, quotes } = await serviceWithQuotes(t);
    const below = (await svc.post('/api/rules', { symbol: 'sz000001', direction: 'below', price: '9.5' })).json.rule;
    await svc.post('/api/rules', { symbol: 'hk00700', direction: 'above', price: 1 });
    assert.equal(below.price, 9.5);

    // No quote for hk00700 at all: its rule neither fires nor fails the sync.
    const first = await syncAt(svc, quotes, { sz000001: 9.21 });
    assert.equal(first.alertsRaised, 1);
    assert.deepEqual(first.missing.map((m) => m.symbol), ['hk00700']);

    assert.equal((await svc.request('DELETE', `/api/rules/${below.id}`)).status, 204);
    assert.equal((await svc.request('DELETE', `/api/rules/${below.id}`)).status, 404);
    await syncAt(svc, quotes, { sz000001: 10 });
    assert.equal((await syncAt(svc, quotes, { sz000001: 9 })).alertsRaised, 0);
  });

  await t.test('removing a stock removes its rules; duplicates are refused', async (t) => {
    const { svc } = await serviceWithQuotes(t);
    await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
    const dup = await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
    assert.equal(dup.status, 409);
    const res = await svc.request('DELETE', '/api/watchlist/sh600519');
    assert.equal(res.status, 200);
    assert.equal(res.json.removedRules, 1);
    assert.deepEqual((await svc.get('/api/rules')).json.rules, []);
    assert.equal((await svc.request('DELETE', '/api/watchlist/sh600519')).status, 404);
  });

  await t.test('a stock removed while its quote is fetched stays removed, with no alert', async (t) => {
    const { svc, quotes } = await serviceWithQuotes(t);
    await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
    await svc.post('/api/watchlist', { symbol: 'sz000001' });
    quotes.setPrice('sh600519', 1900);
    quotes.setPrice('sz000001', 9);
    let open;
    quotes.state.gate = new Promise((r) => { open = r; });
    const sync = svc.post('/api/quotes/sync');
    while (quotes.state.requests.length === 0) await new Promise((r) => setTimeout(r, 10));
    assert.equal((await svc.request('DELETE', '/api/watchlist/sh600519')).status, 200);
    open();
    const res = await sync;
    assert.equal(res.status, 200);
    assert.equal(res.json.alertsRaised, 0);
    assert.deepEqual(Object.keys(svc.readStore().quotes), ['sz000001']);
    assert.deepEqual(await pending(svc), []);
  });

  await t.test('trimming old alerts drops acknowledged ones only', async (t) => {
    // 500 alerts, the most kept: the oldest still pending, the rest acknowledged.
    const dataDir = makeDataDir();
    const alerts = Array.from({ length: 500 }, (_, i) => ({
      id: `n-${i + 1}`, messageTitle: 't', messageBody: 'b', notifiedAt: i === 0 ? null : '2024-01-05T00:00:00Z',
    }));
    fs.writeFileSync(`${dataDir}/store.json`, JSON.stringify({ alerts }));
    const { svc, quotes } = await serviceWithQuotes(t, { dataDir });
    await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
    await syncAt(svc, quotes, { sh600519: 1900 });
    const stored = svc.readStore().alerts.map((a) => a.id);
    assert.equal(stored.length, 500);
    assert.deepEqual([stored[0], stored[1], stored[499]], ['n-1', 'n-3', 'n-501']);
    assert.deepEqual((await pending(svc)).map((n) => n.id), ['n-1', 'n-501']);
  });

  await t.test('log delivery writes one line per raised alert', async (t) => {
    const { svc, quotes } = await serviceWithQuotes(t);
    await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });
    await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1700 });
    await syncAt(svc, quotes, { sh600519: 1900 });
    const lines = fs.readFileSync(`${svc.dataDir}/alert-emails.log`, 'utf8').trim().split('\n');
    assert.equal(lines.length, 2);
    const entry = JSON.parse(lines[0]);
    assert.match(entry.subject, /贵州茅台/);
    assert.match(entry.body, /1900\.00/);
  });
});
