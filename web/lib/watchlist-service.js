'use strict';

const { ApiError } = require('./http');
const { normalizeSymbol, marketName, currencyOf } = require('./symbols');
const { parseRulePrice, describeRule, DIRECTIONS } = require('./rules');

const MAX_SYMBOLS = 100;
const MAX_RULES = 200;
const MAX_ALERTS_LISTED = 100;

// The watchlist, its alert rules and the alerts they raised, as the page and
// the desktop client see them. Every change is one store update.
function createWatchlistService({ store, now = () => new Date() }) {
  const stamp = () => now().toISOString();

  function requireSymbol(value) {
    if (typeof value !== 'string') throw new ApiError(400, '请提供股票代码');
    const symbol = normalizeSymbol(value);
    if (!symbol) {
      throw new ApiError(400, `股票代码格式不正确：${value.slice(0, 20)}（示例：sh600519、sz000001、hk00700）`);
    }
    return symbol;
  }

  function itemView(state, entry) {
    const quote = state.quotes[entry.symbol] || null;
    return {
      symbol: entry.symbol,
      name: (quote && quote.name) || entry.name || null,
      market: marketName(entry.symbol),
      currency: currencyOf(entry.symbol),
      addedAt: entry.addedAt,
      quote,
    };
  }

  function ruleView(state, rule) {
    const quote = state.quotes[rule.symbol];
    return { ...rule, name: (quote && quote.name) || null, description: describeRule(rule) };
  }

  function listWatchlist() {
    const state = store.read();
    return state.watchlist.map((entry) => itemView(state, entry));
  }

  function addSymbol(input) {
    const symbol = requireSymbol(input.symbol);
    return store.update((d) => {
      if (d.watchlist.some((e) => e.symbol === symbol)) throw new ApiError(409, `${symbol} 已在自选列表中`);
      if (d.watchlist.length >= MAX_SYMBOLS) throw new ApiError(400, `自选股最多 ${MAX_SYMBOLS} 只`);
      const entry = { symbol, addedAt: stamp() };
      d.watchlist.push(entry);
      return itemView(d, entry);
    });
  }

  // Removing a code also removes its rules and its stored quote; alerts
  // already raised stay in the history.
  function removeSymbol(rawSymbol) {
    const symbol = normalizeSymbol(rawSymbol);
    const state = store.read();
    if (!symbol || !state.watchlist.some((e) => e.symbol === symbol)) {
      throw new ApiError(404, '自选列表中没有该股票');
    }
    return store.update((d) => {
      d.watchlist = d.watchlist.filter((e) => e.symbol !== symbol);
      const before = d.rules.length;
      d.rules = d.rules.filter((r) => r.symbol !== symbol);
      delete d.quotes[symbol];
      return { removedRules: before - d.rules.length };
    });
  }

  function listRules() {
    const state = store.read();
    return state.rules.map((rule) => ruleView(state, rule));
  }

  // A rule for a code that is not yet watched adds the code to the
  // watchlist, since only watched codes get quotes.
  function addRule(input) {
    const symbol = requireSymbol(input.symbol);
    if (!Object.prototype.hasOwnProperty.call(DIRECTIONS, input.direction)) {
      throw new ApiError(400, '提醒方向必须是 above（高于）或 below（低于）');
    }
    const price = parseRulePrice(input.price);
    if (price === null) throw new ApiError(400, '提醒价格必须是 0.001 到 10000000 之间的数字（最多保留三位小数）');
    return store.update((d) => {
      if (d.rules.some((r) => r.symbol === symbol && r.direction === input.direction && r.price === price)) {
        throw new ApiError(409, '已有相同的提醒规则');
      }
      if (d.rules.length >= MAX_RULES) throw new ApiError(400, `提醒规则最多 ${MAX_RULES} 条`);
      if (!d.watchlist.some((e) => e.symbol === symbol)) {
        if (d.watchlist.length >= MAX_SYMBOLS) throw new ApiError(400, `自选股最多 ${MAX_SYMBOLS} 只`);
        d.watchlist.push({ symbol, addedAt: stamp() });
      }
      const rule = {
        id: `r-${d.nextRuleId++}`,
        symbol,
        direction: input.direction,
        price,
        armed: true,
        createdAt: stamp(),
        lastTriggeredAt: null,
      };
      d.rules.push(rule);
      return ruleView(d, rule);
    });
  }

  function removeRule(id) {
    if (!store.read().rules.some((r) => r.id === id)) throw new ApiError(404, '没有该提醒规则');
    store.update((d) => {
      d.rules = d.rules.filter((r) => r.id !== id);
    });
  }

  function listAlerts() {
    const { alerts } = store.read();
    return {
      alerts: alerts.slice(-MAX_ALERTS_LISTED).reverse(),
      pendingCount: alerts.filter((a) => !a.notifiedAt).length,
    };
  }

  return { listWatchlist, addSymbol, removeSymbol, listRules, addRule, removeRule, listAlerts };
}

module.exports = { createWatchlistService };
