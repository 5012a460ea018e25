'use strict';

const { marketOf } = require('../symbols');

// Made-up but stable quotes for demonstrations and tests: each code gets a
// base price derived from its digits, and every sync (numbered by `sequence`)
// moves the price along a fixed wave, so the same code and sequence always
// give the same price.
const NAMES = {
  sh600519: '贵州茅台',
  sh601318: '中国平安',
  sh600036: '招商银行',
  sz000001: '平安银行',
  sz000858: '五粮液',
  sz300750: '宁德时代',
  hk00700: '腾讯控股',
  hk09988: '阿里巴巴-W',
  hk03690: '美团-W',
  hk00005: '汇丰控股',
};

function hash(text) {
  let h = 2166136261;
  for (const ch of text) {
    h ^= ch.charCodeAt(0);
    h = Math.imul(h, 16777619) >>> 0;
  }
  return h;
}

function round(n, digits) {
  const f = 10 ** digits;
  return Math.round(n * f) / f;
}

function offlineQuote(symbol, sequence, now = new Date()) {
  const h = hash(symbol);
  const base = 5 + (h % 3000) / 10;
  const phase = (h >>> 12) % 628 / 100;
  const digits = marketOf(symbol) === 'hk' ? 3 : 2;
  const at = (k) => round(base * (1 + 0.04 * Math.sin(k * 0.7 + phase)), digits);
  const price = at(sequence);
  const prevClose = at(sequence - 1);
  const change = round(price - prevClose, digits);
  // Quote times are written in UTC+8, like the markets' own.
  const local = new Date(now.getTime() + 8 * 3600 * 1000).toISOString().slice(0, 19);
  return {
    symbol,
    name: NAMES[symbol] || `演示${symbol.slice(2)}`,
    price,
    prevClose,
    open: prevClose,
    change,
    changePercent: round((change / prevClose) * 100, 2),
    high: Math.max(price, prevClose),
    low: Math.min(price, prevClose),
    time: `${local}+08:00`,
  };
}

function createOfflineProvider() {
  return {
    name: 'offline',
    async fetchQuotes(symbols, { sequence = 1 } = {}) {
      const quotes = {};
      for (const symbol of symbols) quotes[symbol] = offlineQuote(symbol, sequence);
      return { quotes, missing: [] };
    },
  };
}

module.exports = { createOfflineProvider, offlineQuote };
