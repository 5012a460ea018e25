'use strict';

// Stock codes as the watchlist stores them: a market prefix and the
// exchange's own number. Shanghai, Shenzhen and Beijing codes have six
// digits; Hong Kong codes have five (leading zeros included).
const PATTERNS = {
  sh: /^\d{6}$/,
  sz: /^\d{6}$/,
  bj: /^\d{6}$/,
  hk: /^\d{5}$/,
};

const MARKET_NAMES = { sh: '沪市', sz: '深市', bj: '北交所', hk: '港股' };

// Accepts "sh600519", " SZ000001 ", "hk700" (padded to hk00700).
// Returns the canonical code, or null when the text is not a valid code.
function normalizeSymbol(input) {
  if (typeof input !== 'string') return null;
  const text = input.trim().toLowerCase();
  const m = /^(sh|sz|bj|hk)(\d{1,6})$/.exec(text);
  if (!m) return null;
  let [, market, digits] = m;
  if (market === 'hk' && digits.length < 5) digits = digits.padStart(5, '0');
  return PATTERNS[market].test(digits) ? market + digits : null;
}

function marketOf(symbol) {
  return symbol.slice(0, 2);
}

function currencyOf(symbol) {
  return marketOf(symbol) === 'hk' ? '港元' : '元';
}

function marketName(symbol) {
  return MARKET_NAMES[marketOf(symbol)] || '';
}

module.exports = { normalizeSymbol, marketOf, currencyOf, marketName };
