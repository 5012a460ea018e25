'use strict';

// The stored data: it survives kills, nothing in it is dropped without a
// trace, and the service keeps answering when the file cannot be read or
// written.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const crypto = require('node:crypto');
const { startService, makeDataDir } = require('../test-helpers/service');
const { decodePending } = require('../test-helpers/desktop-decoder');
const { writeFileAtomic } = require('../lib/store-file');

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
