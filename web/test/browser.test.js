'use strict';

// The page in headless Chromium: it loads, reports its load, adds a stock
// (which then shows with its quote), refuses a price that is not a plain
// decimal, says when the service stops answering and when it is back, shows
// the service's notices and long status texts whole, asks before
// removing a stock, and stops refreshing while its window is minimized.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { startService } = require('../test-helpers/service');
const { launchBrowser, CHROMIUM } = require('../test-helpers/cdp');

test('the page in Chromium', { timeout: 60000 }, async (t) => {
  if (!fs.existsSync(CHROMIUM)) {
    t.skip(`${CHROMIUM} is not installed`);
    return;
  }
  let svc = await startService();
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

  // A typed price must be a plain decimal: "0x10" is not 16.
  const ruleOpened = session.waitForEvent('Page.javascriptDialogOpening');
  const ruleClick = session.evaluate(`document.querySelector('#add-rule-form button').click()`);
  assert.equal((await ruleOpened).type, 'prompt');
  const refusal = session.waitForEvent('Page.javascriptDialogOpening');
  await session.send('Page.handleJavaScriptDialog', { accept: true, promptText: '0x10' });
  assert.match((await refusal).message, /不是有效的价格/);
  await session.send('Page.handleJavaScriptDialog', { accept: true });
  await ruleClick;
  assert.deepEqual((await svc.get('/api/rules')).json.rules, []);

  // Two refreshes overlap and the later one finds the service gone: the
  // earlier one's answer, arriving last, must not hide that. (Closing the
  // dialogs gave the window focus back; let the refreshes that asked for end.)
  const settle = (ms) => session.evaluate(`new Promise((r) => setTimeout(r, ${ms}))`);
  await settle(500);
  await session.send('Fetch.enable', { patterns: [{ urlPattern: '*/api/overview' }] });
  const focus = async () => {
    const paused = session.waitForEvent('Fetch.requestPaused');
    await session.evaluate(`window.dispatchEvent(new Event('focus'))`);
    return (await paused).requestId;
  };
  const early = await focus();
  await session.send('Fetch.failRequest', { requestId: await focus(), errorReason: 'ConnectionRefused' });
  await session.waitFor(`document.getElementById('connection-notice')`);
  const answer = Buffer.from((await svc.get('/api/overview')).text).toString('base64');
  await session.send('Fetch.fulfillRequest', { requestId: early, responseCode: 200, body: answer });
  await settle(300);
  assert.ok(await session.evaluate(`!!document.getElementById('connection-notice')`), 'a late answer hid the notice');
  await session.send('Fetch.disable');
  await session.evaluate(`window.dispatchEvent(new Event('focus'))`);
  await session.waitFor(`!document.getElementById('connection-notice')`);

  // The service stops: the page says so and marks what it shows as stale.
  await svc.stop({ keepData: true });
  await session.evaluate(`window.dispatchEvent(new Event('focus'))`);
  await session.waitFor(`document.getElementById('connection-notice').textContent.includes('无法连接本地服务')`);
  assert.ok(await session.evaluate(`document.body.classList.contains('stale') && !!${row}`));

  // It comes back (with a setting out of range and a quote source that
  // fails with a long message): the notice goes by itself.
  const provider = 'no-such-quote-provider-with-a-name-long-enough-to-fill-the-status-line';
  svc = await startService({
    dataDir: svc.dataDir, port: svc.port,
    settings: { QUOTE_PROVIDER: provider, QUOTE_SYNC_INTERVAL_SECONDS: 2200000 },
  });
  await session.waitFor(`!document.getElementById('connection-notice') && !document.body.classList.contains('stale')`);
  assert.match(await session.evaluate(`document.getElementById('notices').textContent`), /QUOTE_SYNC_INTERVAL_SECONDS/);
  while ((await svc.get('/api/status')).json.sync.ok !== false) await new Promise((r) => setTimeout(r, 100));
  await session.evaluate(`window.dispatchEvent(new Event('focus'))`);
  const status = `document.getElementById('sync-status')`;
  await session.waitFor(`${status}.textContent.includes('上次同步失败')`);
  assert.ok(await session.evaluate(`${status}.textContent.endsWith('${provider}')`));
  assert.ok(await session.evaluate(`${status}.scrollWidth <= ${status}.clientWidth`), 'the status text is not cut off');

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

  // Hidden, the page does not refresh by its timer; shown again, it
  // refreshes at once and then by its timer. Restoring the window also
  // gives it focus, which refreshes by itself: keep that out, so that only
  // visibility counts. With one refresh held, no other timer is pending.
  const periodMs = 500;
  await session.send('Page.addScriptToEvaluateOnNewDocument', {
    source: `window.addEventListener('focus', (e) => e.stopImmediatePropagation(), true)`,
  });
  await session.send('Page.navigate', { url: `${svc.base}/?refreshMs=${periodMs}` });
  await session.waitFor(`location.search && ${status}.textContent.startsWith('行情源')`);
  await session.send('Fetch.enable', { patterns: [{ urlPattern: '*/api/overview' }] });
  const held = (await session.waitForEvent('Fetch.requestPaused')).requestId;
  const { windowId } = await session.send('Browser.getWindowForTarget');
  await session.send('Browser.setWindowBounds', { windowId, bounds: { windowState: 'minimized' } });
  await session.waitFor(`document.visibilityState === 'hidden'`);
  const hidden = session.waitForEvent('Fetch.requestPaused', 4 * periodMs + 1000).then(() => 'refreshed', () => 'rested');
  await session.send('Fetch.continueRequest', { requestId: held });
  assert.equal(await hidden, 'rested', 'the hidden page refreshed');
  const shown = session.waitForEvent('Fetch.requestPaused', 5000);
  await session.send('Browser.setWindowBounds', { windowId, bounds: { windowState: 'normal' } });
  await session.send('Fetch.continueRequest', { requestId: (await shown).requestId });
  const timed = session.waitForEvent('Fetch.requestPaused', 5000);
  await session.send('Fetch.continueRequest', { requestId: (await timed).requestId });
  await session.send('Fetch.disable');
});
