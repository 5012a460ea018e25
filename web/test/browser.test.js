'use strict';

// The page in headless Chromium: it loads, reports its load, adds a stock
// (which then shows with its quote) and asks before removing one.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { startService } = require('../test-helpers/service');
const { launchBrowser, CHROMIUM } = require('../test-helpers/cdp');

test('the page in Chromium', { timeout: 45000 }, async (t) => {
  if (!fs.existsSync(CHROMIUM)) {
    t.skip(`${CHROMIUM} is not installed`);
    return;
  }
  const svc = await startService();
  t.after(() => svc.stop());
  const { session, stop } = await launchBrowser(`${svc.base}/`);
  t.after(stop);
  await session.send('Page.enable');

  await session.waitFor(`document.getElementById('sync-status').textContent.includes('离线演示行情')`);
  assert.equal(await session.evaluate(`document.title`), 'Quorvel 自选股');
  assert.equal(await session.evaluate(`getComputedStyle(document.getElementById('watch-empty')).display`), 'block');

  // The page reports that it has loaded.
  const deadline = Date.now() + 5000;
  let loads;
  do {
    loads = (await svc.get('/api/status')).json.pageLoads;
  } while (loads.count === 0 && Date.now() < deadline && !(await new Promise((r) => setTimeout(r, 100))));
  assert.equal(loads.count, 1);
  assert.equal(typeof loads.last.loadMs, 'number');

  // Add a stock through the form: its row appears, then its quote.
  await session.evaluate(`
    document.getElementById('symbol-input').value = ' SH600519 ';
    document.querySelector('#add-symbol-form button').click();
  `);
  const row = `document.querySelector('#watch-body tr[data-symbol="sh600519"]')`;
  await session.waitFor(`${row} && ${row}.querySelector('.name').textContent === '贵州茅台'`);
  assert.match(await session.evaluate(`${row}.querySelector('.price').textContent`), /^\d+\.\d{2}$/);
  assert.deepEqual((await svc.get('/api/watchlist')).json.items.map((i) => i.symbol), ['sh600519']);

  // Removing asks first; dismissing the question keeps the stock.
  const askRemove = () => {
    const opened = session.waitForEvent('Page.javascriptDialogOpening');
    const click = session.evaluate(`${row}.querySelector('button').click()`);
    return { opened, click };
  };
  let step = askRemove();
  let dialog = await step.opened;
  assert.equal(dialog.type, 'confirm');
  assert.match(dialog.message, /贵州茅台（sh600519）/);
  await session.send('Page.handleJavaScriptDialog', { accept: false });
  await step.click;
  assert.equal((await svc.get('/api/watchlist')).json.items.length, 1);

  step = askRemove();
  dialog = await step.opened;
  await session.send('Page.handleJavaScriptDialog', { accept: true });
  await step.click;
  await session.waitFor(`!${row}`);
  assert.deepEqual((await svc.get('/api/watchlist')).json.items, []);
});
