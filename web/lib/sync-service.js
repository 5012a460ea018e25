'use strict';

const { evaluateRules, alertText } = require('./rules');

// Alerts kept in the store; the oldest acknowledged ones go first. Alerts
// still waiting for the desktop are never dropped.
const MAX_STORED_ALERTS = 500;

function trimAlerts(alerts) {
  let excess = alerts.length - MAX_STORED_ALERTS;
  if (excess <= 0) return alerts;
  return alerts.filter((a) => {
    if (excess > 0 && a.notifiedAt) {
      excess -= 1;
      return false;
    }
    return true;
  });
}

// Fetches quotes for every watched code, stores them, and raises an alert
// for each rule that fires. Overlapping requests share one run.
function createSyncService({ store, provider, mailer, now = () => new Date() }) {
  let running = null;
  const last = { attemptAt: null, ok: null, error: null };

  function commit(write) {
    try {
      return write();
    } catch (err) {
      last.ok = false;
      last.error = `保存行情失败：${err.message}`;
      throw err;
    }
  }

  async function runOnce() {
    const state = store.read();
    const symbols = [...new Set([...state.watchlist.map((e) => e.symbol), ...state.rules.map((r) => r.symbol)])];
    const sequence = state.sync.count + 1;
    last.attemptAt = now().toISOString();
    let fetched;
    try {
      fetched = symbols.length > 0
        ? await provider.fetchQuotes(symbols, { sequence })
        : { quotes: {}, missing: [] };
    } catch (err) {
      last.ok = false;
      last.error = err.message;
      throw err;
    }

    const raised = commit(() => store.update((d) => {
      const at = now().toISOString();
      const tracked = new Set([...d.watchlist.map((e) => e.symbol), ...d.rules.map((r) => r.symbol)]);
      const fresh = {};
      for (const [symbol, quote] of Object.entries(fetched.quotes)) {
        if (!tracked.has(symbol)) continue; // removed while the fetch ran
        fresh[symbol] = { ...quote, fetchedAt: at };
        d.quotes[symbol] = fresh[symbol];
        const entry = d.watchlist.find((e) => e.symbol === symbol);
        if (entry) entry.name = quote.name;
      }
      d.sync.count = sequence;
      d.sync.lastSuccessAt = at;
      const alerts = evaluateRules(d.rules, fresh).map((rule) => {
        rule.lastTriggeredAt = at;
        const quote = fresh[rule.symbol];
        return {
          id: `n-${d.nextAlertId++}`,
          ...alertText(rule, quote),
          sourceType: 'price_rule',
          sourceId: rule.id,
          symbol: rule.symbol,
          name: quote.name,
          direction: rule.direction,
          threshold: rule.price,
          price: quote.price,
          quoteTime: quote.time,
          raisedAt: at,
          notifiedAt: null,
        };
      });
      d.alerts = trimAlerts(d.alerts.concat(alerts));
      return alerts;
    }));
    last.ok = true;
    last.error = null;
    for (const alert of raised) mailer.deliver(alert);

    return {
      provider: provider.name,
      syncedAt: store.read().sync.lastSuccessAt,
      requested: symbols.length,
      updated: Object.keys(fetched.quotes).length,
      missing: fetched.missing,
      alertsRaised: raised.length,
      alerts: raised.map((a) => ({ id: a.id, messageTitle: a.messageTitle, messageBody: a.messageBody })),
    };
  }

  function sync() {
    if (!running) running = runOnce().finally(() => { running = null; });
    return running;
  }

  function status() {
    return { ...last, running: running !== null, lastSuccessAt: store.read().sync.lastSuccessAt };
  }

  return { sync, status };
}

module.exports = { createSyncService };
