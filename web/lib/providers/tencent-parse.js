'use strict';

const { ProviderError } = require('./errors');

// The Tencent quote endpoint answers with one line per code:
//   v_sh600519="1~贵州茅台~600519~1705.00~1690.01~1692.00~...";
// Fields are separated by "~". Positions used here:
//   1 name, 2 code, 3 latest price, 4 previous close, 5 open,
//   30 quote time, 31 change, 32 change in percent, 33 high, 34 low.
// The time is "YYYYMMDDhhmmss" for mainland markets and
// "YYYY/MM/DD hh:mm:ss" for Hong Kong, both in UTC+8.
const LINE = /^v_([A-Za-z0-9_]+)="([^"]*)";$/;
const NUMBER = /^-?\d+(?:\.\d+)?$/;
const MIN_FIELDS = 35;

function parseTime(text) {
  let m = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})$/.exec(text);
  if (!m) m = /^(\d{4})\/(\d{2})\/(\d{2}) (\d{2}):(\d{2}):(\d{2})$/.exec(text);
  if (!m) return null;
  const iso = `${m[1]}-${m[2]}-${m[3]}T${m[4]}:${m[5]}:${m[6]}+08:00`;
  return Number.isNaN(Date.parse(iso)) ? null : iso;
}

function number(text) {
  return NUMBER.test(text) ? Number(text) : null;
}

// Turns one line's value into a quote, or returns the reason it cannot.
function parseQuoteFields(symbol, value) {
  const f = value.split('~');
  if (f.length < MIN_FIELDS) return { reason: '没有该代码的行情' };
  if (f[2] !== symbol.slice(2)) return { reason: '行情代码不符' };
  const name = f[1].trim();
  const price = number(f[3]);
  const prevClose = number(f[4]);
  const time = parseTime(f[30]);
  if (!name || price === null || prevClose === null || time === null) {
    return { reason: '行情数据格式不正确' };
  }
  if (price <= 0) return { reason: '暂无成交价（可能停牌）' };
  return {
    quote: {
      symbol,
      name,
      price,
      prevClose,
      open: number(f[5]),
      change: number(f[31]),
      changePercent: number(f[32]),
      high: number(f[33]),
      low: number(f[34]),
      time,
    },
  };
}

// Parses a whole (already decoded) response for the requested symbols.
// A response with any line that is not in the expected form is rejected as
// a whole; a requested code that is missing or unusable is reported in
// `missing` with the reason, and the other codes still count.
function parseTencentResponse(text, symbols) {
  const values = new Map();
  let lines = 0;
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    if (line === '') continue;
    const m = LINE.exec(line);
    if (!m) throw new ProviderError('行情服务返回了无法识别的内容');
    values.set(m[1], m[2]);
    lines += 1;
  }
  if (lines === 0) throw new ProviderError('行情服务返回了空内容');

  const quotes = {};
  const missing = [];
  for (const symbol of symbols) {
    const value = values.get(symbol);
    const parsed = value === undefined ? { reason: '没有该代码的行情' } : parseQuoteFields(symbol, value);
    if (parsed.quote) quotes[symbol] = parsed.quote;
    else missing.push({ symbol, reason: parsed.reason });
  }
  return { quotes, missing };
}

module.exports = { parseTencentResponse };
