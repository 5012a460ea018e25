'use strict';

const { normalizeSymbol } = require('./symbols');
const { MIN_PRICE, MAX_PRICE } = require('./rules');

// What a stored record must look like to be used. Alerts go to the desktop
// client as they are stored, and the client refuses a whole pending list
// for one faulty record, so an alert's texts must be well-formed strings
// (a lone UTF-16 surrogate becomes an escape no JSON decoder accepts), its
// id must be usable in the acknowledgement path, and its source fields must
// be strings or null.

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

const isObject = (value) => value !== null && typeof value === 'object' && !Array.isArray(value);
const isText = (value) => typeof value === 'string' && !LONE_SURROGATE.test(value);
const isOptionalText = (value) => value === undefined || value === null || isText(value);
const isCode = (value) => typeof value === 'string' && normalizeSymbol(value) === value;
const isId = (value) => isText(value) && value !== '';

// Each returns why the record cannot be used, or null.
const CHECKS = {
  watchlist(e) {
    if (!isObject(e)) return '不是对象';
    if (!isCode(e.symbol)) return '股票代码无效';
    return null;
  },
  rules(r) {
    if (!isObject(r)) return '不是对象';
    if (!isId(r.id)) return 'id 无效';
    if (!isCode(r.symbol)) return '股票代码无效';
    if (r.direction !== 'above' && r.direction !== 'below') return '提醒方向无效';
    if (typeof r.price !== 'number' || !(r.price >= MIN_PRICE && r.price <= MAX_PRICE)) return '提醒价格无效';
    return null;
  },
  alerts(a) {
    if (!isObject(a)) return '不是对象';
    if (!isId(a.id)) return 'id 无效';
    if (!isText(a.messageTitle) || !isText(a.messageBody)) return '标题或内容不是有效文本';
    if (!isOptionalText(a.sourceType) || !isOptionalText(a.sourceId)) return '来源字段不是文本';
    return null;
  },
};

const KEY_OF = { watchlist: (e) => e.symbol, rules: (r) => r.id, alerts: (a) => a.id };

function checkQuote(symbol, quote) {
  if (!isCode(symbol)) return '股票代码无效';
  if (!isObject(quote) || typeof quote.price !== 'number') return '行情无效';
  return null;
}

// Splits the records of a loaded document into those that can be used and
// those that cannot. Mutates state so that it keeps only usable records;
// returns the others as { collection, record, reason }. A collection that
// is not a list (or, for quotes, not an object) is returned whole.
function separateInvalid(state) {
  const rejected = [];
  for (const collection of Object.keys(CHECKS)) {
    const value = state[collection];
    if (value === undefined) continue;
    if (!Array.isArray(value)) {
      rejected.push({ collection, record: value, reason: '不是列表' });
      state[collection] = [];
      continue;
    }
    const seen = new Set();
    state[collection] = value.filter((record) => {
      let reason = CHECKS[collection](record);
      if (!reason && seen.has(KEY_OF[collection](record))) reason = '与前面的记录重复';
      if (reason) {
        rejected.push({ collection, record, reason });
        return false;
      }
      seen.add(KEY_OF[collection](record));
      return true;
    });
  }
  if (state.quotes !== undefined && !isObject(state.quotes)) {
    rejected.push({ collection: 'quotes', record: state.quotes, reason: '不是对象' });
    state.quotes = {};
  }
  for (const [symbol, quote] of Object.entries(state.quotes || {})) {
    const reason = checkQuote(symbol, quote);
    if (reason) {
      rejected.push({ collection: 'quotes', key: symbol, record: quote, reason });
      delete state.quotes[symbol];
    }
  }
  return rejected;
}

// The first problem of a document about to be saved, as text, or null.
function firstProblem(state) {
  for (const collection of Object.keys(CHECKS)) {
    for (const record of state[collection]) {
      const reason = CHECKS[collection](record);
      if (reason) return `${collection} ${JSON.stringify(isObject(record) ? KEY_OF[collection](record) : null)}: ${reason}`;
    }
  }
  return null;
}

module.exports = { separateInvalid, firstProblem, isObject };
