'use strict';

// Bad input changes nothing; signals end the service promptly.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const { startService } = require('../test-helpers/service');
const { startFakeQuotes } = require('../test-helpers/fake-quotes');

// Runs action and checks that the stored data is byte for byte the same.
async function assertUnchanged(svc, action) {
  const before = fs.readFileSync(svc.storeFile, 'utf8');
  await action();
  assert.equal(fs.readFileSync(svc.storeFile, 'utf8'), before);
}

// Sends each [method, path, options] and checks that it gets `status` with a JSON error.
async function assertRefused(svc, status, requests) {
  for (const [method, path, options] of requests) {
    const res = await svc.request(method, path, options);
    assert.equal(res.status, status, `${method} ${path} ${JSON.stringify(options)}`);
    assert.equal(typeof res.json.error, 'string');
  }
}

test('bad requests', async (t) => {
  const svc = await startService();
  t.after(() => svc.stop());
  await svc.post('/api/watchlist', { symbol: 'sh600519' });
  await svc.post('/api/rules', { symbol: 'sh600519', direction: 'above', price: 1800 });

  await t.test('malformed JSON gets 400 with a JSON error', async () => {
    await assertUnchanged(svc, async () => {
      const cases = [
        ['/api/watchlist', '{"symbol": "sz000001"'],
        ['/api/rules', 'symbol=sz000001'],
        ['/api/desktop-notifications/initialize', '{'],
        ['/api/quotes/sync', 'not json'],
      ];
      const headers = { 'Content-Type': 'application/json' };
      await assertRefused(svc, 400, cases.map(([path, body]) => ['POST', path, { body, headers }]));
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
      await assertRefused(svc, 400, cases.map(([path, json]) => ['POST', path, { json }]));
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
      await assertRefused(svc, 404, [
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
      ]);
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
