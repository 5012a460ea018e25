'use strict';

// Bad input changes nothing; the store survives kills; signals end the
// service promptly.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const crypto = require('node:crypto');
const { startService, makeDataDir } = require('../test-helpers/service');
const { startFakeQuotes } = require('../test-helpers/fake-quotes');
const { decodePending } = require('../test-helpers/desktop-decoder');
const { writeFileAtomic } = require('../lib/store-file');

// Runs action and checks that the stored data is byte for byte the same.
async function assertUnchanged(svc, action) {
  const before = fs.readFileSync(svc.storeFile, 'utf8');
  await action();
  assert.equal(fs.readFileSync(svc.storeFile, 'utf8'), before);
}

test('bad requests', async (t) => {
  const svc = await startService();
  t.after(() => svc.stop());
  await svc.post('/api/watchlist', { symbol: 'sh600519' });
  await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });

  await t.test('malformed JSON gets 400 with a JSON error', async () => {
    await assertUnchanged(svc, async () => {
      for (const [path, body] of [
        ['/api/watchlist', '{"symbol": "sz000001"'],
        ['/api/rules', 'symbol=sz000001'],
        ['/api/desktop-notifications/initialize', '{'],
        ['/api/quotes/sync', 'not json'],
      ]) {
        const res = await svc.request('POST', path, { body, headers: { 'Content-Type': 'application/json' } });
        assert.equal(res.status, 400, `${path} ${body}`);
        assert.equal(typeof res.json.error, 'string');
      }
    });
  });

  await t.test('wrong types and values get 400', async () => {
    await assertUnchanged(svc, async () => {
      const cases = [
        ['/api/watchlist', []],
        ['/api/watchlist', 'sz000001'],
        ['/api/watchlist', null],
        ['/api/watchlist', {}],
        ['/api/watchlist', { symbol: 600519 }],
        ['/api/watchlist', { symbol: ['sz000001'] }],
        ['/api/watchlist', { symbol: 'sz00001' }],
        ['/api/watchlist', { symbol: 'hk000700' }],
        ['/api/watchlist', { symbol: 'us00700' }],
        ['/api/watchlist', { symbol: 'sh600519; rm -rf /' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: 'abc' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: -1 }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: 0 }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: 0.0001 }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: '0.0004' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: '1e400' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: '0x10' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above', price: true }],
        ['/api/rules', { symbol: 'sz000001', direction: 'above' }],
        ['/api/rules', { symbol: 'sz000001', direction: 'sideways', price: 10 }],
        ['/api/rules', { symbol: 'sz000001', direction: 'toString', price: 10 }],
        ['/api/rules', { direction: 'above', price: 10 }],
      ];
      for (const [path, json] of cases) {
        const res = await svc.request('POST', path, { json });
        assert.equal(res.status, 400, `${path} ${JSON.stringify(json)}`);
        assert.equal(typeof res.json.error, 'string');
      }
    });
  });

  await t.test('oversized bodies get 400', async () => {
    await assertUnchanged(svc, async () => {
      const big = { symbol: 'sz000001', padding: 'x'.repeat(40 * 1024) };
      const res = await svc.request('POST', '/api/watchlist', { json: big });
      assert.equal(res.status, 400);
      assert.match(res.json.error, /过大/);
      const huge = await svc.request('POST', '/api/quotes/sync', { body: Buffer.alloc(1024 * 1024, 0x20) });
      assert.equal(huge.status, 400);
    });
  });

  await t.test('unknown paths get 404, known paths with another method 405', async () => {
    await assertUnchanged(svc, async () => {
      for (const [method, path] of [
        ['GET', '/api/nothing'],
        ['GET', '/server.js'],
        ['GET', '/../server.js'],
        ['GET', '/lib/app.js'],
        ['POST', '/api/desktop-notifications//mark-notified'],
        ['GET', '/api/desktop-notifications/pending/extra'],
        ['POST', '/api/desktop-notifications/n-1/mark-notified/x'],
        ['DELETE', '/api/watchlist/%E0%A4%A'],
        ['GET', '//'],
        ['GET', '//x/api/watchlist'],
        ['GET', '/\\x/api/watchlist'],
      ]) {
        const res = await svc.request(method, path);
        assert.equal(res.status, 404, `${method} ${path}`);
        assert.equal(typeof res.json.error, 'string');
      }
      const res = await svc.request('PUT', '/api/watchlist', { json: { symbol: 'sz000001' } });
      assert.equal(res.status, 405);
      assert.match(res.headers.allow, /POST/);
    });
  });

  await t.test('requests from other sites or host names are refused', async () => {
    await assertUnchanged(svc, async () => {
      const foreign = await svc.request('POST', '/api/watchlist', {
        json: { symbol: 'sz000001' }, headers: { Origin: 'http://example.com' },
      });
      assert.equal(foreign.status, 403);
      const foreignDelete = await svc.request('DELETE', '/api/watchlist/sh600519', {
        headers: { Origin: 'http://example.com' },
      });
      assert.equal(foreignDelete.status, 403);
      for (const site of ['cross-site', 'same-site']) {
        const unnamed = await svc.request('POST', '/api/watchlist', {
          json: { symbol: 'sz000001' }, headers: { 'Sec-Fetch-Site': site },
        });
        assert.equal(unnamed.status, 403, site);
      }
      const rebound = await svc.request('GET', '/api/watchlist', { headers: { Host: `attacker.example:${svc.port}` } });
      assert.equal(rebound.status, 403);
    });
    const own = await svc.request('POST', '/api/watchlist', {
      json: { symbol: 'sz000001' }, headers: { Origin: svc.base },
    });
    assert.equal(own.status, 201);
  });

  await t.test('no request is refused for want of a sign-in', async () => {
    const res = await svc.get('/api/desktop-notifications/pending');
    assert.equal(res.status, 200);
    const page = await svc.get('/');
    assert.equal(page.status, 200);
    assert.match(page.headers['content-type'], /text\/html/);
    assert.match(page.text, /Quorvel/);
  });
});

// Many concurrent writers, a large document, and a SIGKILL at an arbitrary
// moment: the store must parse and the service must start again on it.
test('the store survives being killed during writes', async () => {
  const dataDir = makeDataDir();
  let svc;
  try {
    svc = await startService({ dataDir });
    for (let i = 0; i < 120; i++) {
      await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1000 + i });
    }
    for (const delay of [37, 91, 163, 240]) {
      let stop = false;
      const writers = [0, 1, 2, 3].map(async (w) => {
        for (let i = 0; !stop; i++) {
          const price = 5000 + w * 10000 + i;
          try {
            const { json } = await svc.post('/api/rules', { symbol: 'sz000001', direction: 'below', price });
            await svc.request('DELETE', `/api/rules/${json.rule.id}`);
          } catch {
            return; // the connection died with the service
          }
        }
      });
      await new Promise((r) => setTimeout(r, delay));
      svc.child.kill('SIGKILL');
      await svc.exited;
      stop = true;
      await Promise.all(writers);

      const stored = svc.readStore();
      assert.ok(stored.rules.length >= 120, `delay ${delay}: ${stored.rules.length} rules`);
      svc = await startService({ dataDir });
      assert.equal((await svc.get('/api/rules')).status, 200);
      assert.ok(fs.readdirSync(dataDir).every((name) => !name.includes('.tmp')), 'temporary files are cleared');
    }
  } finally {
    if (svc) await svc.stop({ keepData: true });
    fs.rmSync(dataDir, { recursive: true, force: true });
  }
});

test('a hand-edited store', async (t) => {
  await t.test('broken records are set aside and reported, never sent to the desktop', async (t) => {
    const dataDir = makeDataDir();
    t.after(() => fs.rmSync(dataDir, { recursive: true, force: true }));
    fs.writeFileSync(`${dataDir}/store.json`, JSON.stringify({
      watchlist: [{ symbol: 'sh600519' }, { symbol: 42 }, 'sz000001'],
      rules: [
        { id: 'r-7', symbol: 'sh600519', direction: 'above', price: 1, armed: true },
        { id: 'r-8', symbol: 'sh600519', direction: 'up', price: 1 },
        { id: 'r-9', symbol: 'sh600519', direction: 'above', price: 0 },
      ],
      alerts: [
        { id: 'n-3', messageTitle: 't', messageBody: 'b' },
        { id: 4 },
        { id: 'n-5', messageTitle: 't', messageBody: 'b', sourceType: 7 },
        { id: 'n-6', messageTitle: '\ud800', messageBody: 'b' },
        { id: 'n-3', messageTitle: 'again', messageBody: 'b' },
        { id: 'n-7', messageTitle: 't', messageBody: 'b', sourceType: null },
      ],
      quotes: { sh600519: 'high' },
    }));
    const svc = await startService({ dataDir });
    t.after(() => svc.stop());
    assert.deepEqual((await svc.get('/api/watchlist')).json.items.map((i) => i.symbol), ['sh600519']);
    assert.equal((await svc.post('/api/quotes/sync')).status, 200);
    const pending = decodePending((await svc.get('/api/desktop-notifications/pending')).text);
    assert.deepEqual(pending.map((n) => n.id), ['n-3', 'n-7', 'n-8']);
    const rule = (await svc.post('/api/rules', { symbol: 'sh600519', direction: 'below', price: 1 })).json.rule;
    assert.equal(rule.id, 'r-8');

    const { store, notices } = (await svc.get('/api/status')).json;
    assert.equal(store.setAside.count, 9);
    assert.ok(notices.some((n) => n.includes('9 条记录') && n.includes(store.setAside.file)), notices.join('\n'));
    const kept = JSON.parse(fs.readFileSync(store.setAside.file, 'utf8')).records;
    assert.deepEqual(kept.map((r) => r.record.id ?? r.record.symbol ?? r.record),
      [42, 'sz000001', 'r-8', 'r-9', 4, 'n-5', 'n-6', 'n-3', 'high']);
  });

  await t.test('an unreadable store is set aside, not overwritten', async (t) => {
    const dataDir = makeDataDir();
    t.after(() => fs.rmSync(dataDir, { recursive: true, force: true }));
    fs.writeFileSync(`${dataDir}/store.json`, '{"watchlist": [');
    const svc = await startService({ dataDir });
    t.after(() => svc.stop());
    assert.deepEqual((await svc.get('/api/watchlist')).json.items, []);
    const aside = fs.readdirSync(dataDir).filter((n) => n.startsWith('store.json.unreadable-'));
    assert.equal(aside.length, 1);
    assert.equal(fs.readFileSync(`${dataDir}/${aside[0]}`, 'utf8'), '{"watchlist": [');
    const { store, notices } = (await svc.get('/api/status')).json;
    assert.equal(store.movedAside, `${dataDir}/${aside[0]}`);
    assert.ok(notices.some((n) => n.includes(store.movedAside)), notices.join('\n'));
  });

  await t.test('a store that cannot be read: the service answers, refuses changes, then recovers', async (t) => {
    const dataDir = makeDataDir();
    t.after(() => fs.rmSync(dataDir, { recursive: true, force: true }));
    fs.mkdirSync(`${dataDir}/store.json`);
    // A setting out of its range is reported the same way.
    const svc = await startService({ dataDir, settings: { QUOTE_SYNC_INTERVAL_SECONDS: 2200000 } });
    t.after(() => svc.stop());
    assert.equal((await svc.get('/')).status, 200);
    const { store, notices, syncIntervalSeconds } = (await svc.get('/api/status')).json;
    assert.equal(store.readable, false);
    assert.ok(notices.some((n) => n.includes(`无法读取数据文件 ${svc.storeFile}`)), notices.join('\n'));
    assert.equal(syncIntervalSeconds, 86400);
    assert.ok(notices.some((n) => n.includes('QUOTE_SYNC_INTERVAL_SECONDS=2200000')), notices.join('\n'));
    assert.match(svc.output(), /setting: QUOTE_SYNC_INTERVAL_SECONDS=2200000/);
    assert.equal((await svc.post('/api/watchlist', { symbol: 'sz000001' })).status, 503);
    assert.ok(fs.statSync(svc.storeFile).isDirectory(), 'nothing is overwritten');

    fs.rmdirSync(svc.storeFile);
    fs.writeFileSync(svc.storeFile, JSON.stringify({ watchlist: [{ symbol: 'sh600519' }] }));
    assert.equal((await svc.post('/api/watchlist', { symbol: 'sz000001' })).status, 201);
    assert.deepEqual((await svc.get('/api/watchlist')).json.items.map((i) => i.symbol), ['sh600519', 'sz000001']);
    assert.equal((await svc.get('/api/status')).json.store.readable, true);
  });

  await t.test('a write that fails changes nothing and tells no internals', async (t) => {
    const svc = await startService();
    t.after(() => svc.stop());
    await svc.post('/api/watchlist', { symbol: 'sh600519' });
    fs.rmSync(svc.storeFile);
    fs.mkdirSync(`${svc.storeFile}/blocked`, { recursive: true });
    const res = await svc.post('/api/watchlist', { symbol: 'sz000001' });
    assert.equal(res.status, 503);
    assert.ok(!res.text.includes(svc.dataDir), res.text);
    assert.deepEqual((await svc.get('/api/watchlist')).json.items.map((i) => i.symbol), ['sh600519']);
  });
});

test('an atomic write does not follow a link planted at its temporary name', (t) => {
  const dir = makeDataDir();
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.writeFileSync(`${dir}/victim`, 'keep');
  t.mock.method(crypto, 'randomBytes', (n) => Buffer.alloc(n));
  fs.symlinkSync(`${dir}/victim`, `${dir}/.store.json.tmp-0000000000000000`);
  assert.throws(() => writeFileAtomic(`${dir}/store.json`, 'new'), { code: 'EEXIST' });
  assert.equal(fs.readFileSync(`${dir}/victim`, 'utf8'), 'keep');
  assert.ok(!fs.existsSync(`${dir}/store.json`));
});

test('signals', async (t) => {
  for (const signal of ['SIGTERM', 'SIGINT']) {
    await t.test(`${signal} ends the service promptly, even with an open connection and a sync in flight`, async (t) => {
      const quotes = await startFakeQuotes();
      t.after(() => quotes.close());
      quotes.state.hang = true;
      const svc = await startService({
        settings: { QUOTE_PROVIDER: 'tencent', QUOTE_TENCENT_URL: quotes.url, QUOTE_TIMEOUT_SECONDS: 20 },
      });
      t.after(() => svc.stop());
      await svc.post('/api/watchlist', { symbol: 'sh600519' });
      const idle = net.connect(svc.port, '127.0.0.1');
      await new Promise((r) => idle.on('connect', r));
      svc.request('POST', '/api/quotes/sync').catch(() => {});
      while (quotes.state.requests.length === 0) await new Promise((r) => setTimeout(r, 20));

      const started = Date.now();
      svc.child.kill(signal);
      const { code } = await svc.exited;
      idle.destroy();
      assert.equal(code, 0);
      assert.ok(Date.now() - started < 3000, `took ${Date.now() - started} ms`);
    });
  }
});
