'use strict';

const fs = require('fs');
const path = require('path');
const { normalizeSymbol } = require('./symbols');

const STORE_NAME = 'store.json';
const TEMP_PREFIX = '.store.json.tmp-';

// Writes text to file so that a reader (or the next start after a crash or
// a kill) sees either the old content or the new one, never a mix: the text
// goes to a temporary file in the same folder, is flushed to disk, and then
// replaces the target by rename; the folder is flushed so the rename lasts.
function writeFileAtomic(file, text) {
  const dir = path.dirname(file);
  const temp = path.join(dir, `${TEMP_PREFIX}${process.pid}-${Date.now()}`);
  const fd = fs.openSync(temp, 'w', 0o600);
  try {
    fs.writeSync(fd, text);
    fs.fsyncSync(fd);
  } catch (err) {
    fs.closeSync(fd);
    fs.rmSync(temp, { force: true });
    throw err;
  }
  fs.closeSync(fd);
  try {
    fs.renameSync(temp, file);
  } catch (err) {
    fs.rmSync(temp, { force: true });
    throw err;
  }
  try {
    const dirFd = fs.openSync(dir, 'r');
    try { fs.fsyncSync(dirFd); } finally { fs.closeSync(dirFd); }
  } catch {
    // Some file systems refuse to sync a directory; the rename still stands.
  }
}

function emptyState() {
  return {
    version: 1,
    nextRuleId: 1,
    nextAlertId: 1,
    watchlist: [],
    quotes: {},
    rules: [],
    alerts: [],
    desktop: { initializedAt: null, device: null, initializeCount: 0 },
    sync: { count: 0, lastAttemptAt: null, lastSuccessAt: null, lastError: null },
  };
}

const isCode = (value) => typeof value === 'string' && normalizeSymbol(value) === value;
const isObject = (value) => value !== null && typeof value === 'object' && !Array.isArray(value);

// The next free number for ids of the form prefix + number.
function nextId(stored, items, prefix) {
  let next = Number.isSafeInteger(stored) && stored > 0 ? stored : 1;
  for (const { id } of items) {
    const n = id.startsWith(prefix) ? Number(id.slice(prefix.length)) : NaN;
    if (Number.isSafeInteger(n) && n >= next) next = n + 1;
  }
  return next;
}

// Drops records a hand-edited file may have broken, and makes sure new ids
// never repeat ids already in use.
function keepValid(state) {
  state.watchlist = state.watchlist.filter((e) => isObject(e) && isCode(e.symbol));
  state.rules = state.rules.filter((r) => isObject(r) && typeof r.id === 'string' && isCode(r.symbol)
    && (r.direction === 'above' || r.direction === 'below')
    && typeof r.price === 'number' && r.price > 0);
  state.alerts = state.alerts.filter((a) => isObject(a) && typeof a.id === 'string'
    && typeof a.messageTitle === 'string' && typeof a.messageBody === 'string');
  for (const [symbol, quote] of Object.entries(state.quotes)) {
    if (!isCode(symbol) || !isObject(quote) || typeof quote.price !== 'number') delete state.quotes[symbol];
  }
  state.nextRuleId = nextId(state.nextRuleId, state.rules, 'r-');
  state.nextAlertId = nextId(state.nextAlertId, state.alerts, 'n-');
  if (!Number.isSafeInteger(state.sync.count) || state.sync.count < 0) state.sync.count = 0;
  if (!Number.isSafeInteger(state.desktop.initializeCount)) state.desktop.initializeCount = 0;
  return state;
}

// Fills in whatever a stored file lacks, so files from older versions and
// hand-edited files still load.
function withDefaults(data) {
  const base = emptyState();
  if (!isObject(data)) return base;
  const state = { ...base, ...data };
  for (const key of ['watchlist', 'rules', 'alerts']) {
    if (!Array.isArray(state[key])) state[key] = [];
  }
  for (const key of ['quotes', 'desktop', 'sync']) {
    if (!isObject(state[key])) state[key] = base[key];
    else state[key] = { ...base[key], ...state[key] };
  }
  return keepValid(state);
}

// The service's data: one JSON document in memory, saved whole after every
// change. Changes are made on a copy that only becomes current once it has
// been written, so a failed write leaves memory and disk in agreement.
class Store {
  constructor(dataDir) {
    this.dataDir = dataDir;
    this.file = path.join(dataDir, STORE_NAME);
    this.state = null;
  }

  open() {
    fs.mkdirSync(this.dataDir, { recursive: true, mode: 0o700 });
    for (const name of fs.readdirSync(this.dataDir)) {
      if (name.startsWith(TEMP_PREFIX)) fs.rmSync(path.join(this.dataDir, name), { force: true });
    }
    let text = null;
    try {
      text = fs.readFileSync(this.file, 'utf8');
    } catch (err) {
      if (err.code !== 'ENOENT') throw err;
    }
    if (text === null) {
      this.state = emptyState();
      return this;
    }
    try {
      this.state = withDefaults(JSON.parse(text));
    } catch {
      // Keep an unreadable file for inspection instead of overwriting it.
      const aside = `${this.file}.unreadable-${Date.now()}`;
      fs.renameSync(this.file, aside);
      process.stderr.write(`store: ${this.file} could not be parsed; moved to ${aside}\n`);
      this.state = emptyState();
    }
    return this;
  }

  read() {
    return this.state;
  }

  // Runs change(draft) on a copy of the data; if it returns without
  // throwing, the copy is saved and becomes current. Returns what change
  // returned.
  update(change) {
    const draft = structuredClone(this.state);
    const result = change(draft);
    writeFileAtomic(this.file, JSON.stringify(draft, null, 1));
    this.state = draft;
    return result;
  }
}

module.exports = { Store, writeFileAtomic, STORE_NAME };
