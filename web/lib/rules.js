'use strict';

const { currencyOf } = require('./symbols');

const DIRECTIONS = { above: '高于', below: '低于' };
// Rule prices are kept to three decimals (Hong Kong tick sizes).
const MIN_PRICE = 0.001;
const MAX_PRICE = 1e7;

// Checks a price entered for a rule (a number, or decimal digits as text);
// returns it rounded to three decimals, or null when the rounded price is
// not one a rule can use.
function parseRulePrice(value) {
  const n = typeof value === 'string' && /^\s*\d+(\.\d+)?\s*$/.test(value) ? Number(value) : value;
  if (typeof n !== 'number' || !Number.isFinite(n)) return null;
  const rounded = Math.round(n * 1000) / 1000;
  return rounded >= MIN_PRICE && rounded <= MAX_PRICE ? rounded : null;
}

function conditionHolds(rule, price) {
  return rule.direction === 'above' ? price >= rule.price : price <= rule.price;
}

// Two decimals, or three where the price has them (Hong Kong tick sizes).
function formatPrice(n) {
  return n.toFixed(3).replace(/0$/, '');
}

function describeRule(rule) {
  return `${DIRECTIONS[rule.direction]} ${formatPrice(rule.price)} ${currencyOf(rule.symbol)}`;
}

function alertText(rule, quote) {
  const name = quote.name || rule.symbol;
  const unit = currencyOf(rule.symbol);
  const when = quote.time ? `（行情时间 ${quote.time.slice(0, 19).replace('T', ' ')}）` : '';
  return {
    messageTitle: `${name}（${rule.symbol}）价格提醒`,
    messageBody: `现价 ${formatPrice(quote.price)} ${unit}，已${DIRECTIONS[rule.direction]}提醒价 ${formatPrice(rule.price)} ${unit}${when}`,
  };
}

// Compares each rule with the latest quote of its symbol. A rule fires when
// its condition holds while it is armed, and is then disarmed; it is armed
// again by the first quote for which the condition does not hold, so a price
// that stays beyond the threshold raises one alert, not one per sync.
// Rules whose symbol has no quote are left as they are. Mutates the rules'
// `armed` flags and returns the rules that fired.
function evaluateRules(rules, quotes) {
  const fired = [];
  for (const rule of rules) {
    const quote = quotes[rule.symbol];
    if (!quote || !(quote.price > 0)) continue;
    if (conditionHolds(rule, quote.price)) {
      if (rule.armed) {
        rule.armed = false;
        fired.push(rule);
      }
    } else {
      rule.armed = true;
    }
  }
  return fired;
}

module.exports = { DIRECTIONS, MIN_PRICE, MAX_PRICE, parseRulePrice, evaluateRules, alertText, describeRule };
