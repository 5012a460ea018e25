'use strict';

const fs = require('fs');
const path = require('path');
const { ApiError } = require('./http');
const { writeFileAtomic, removeLeftoverTempFiles, sideFileName } = require('./store-file');
const { separateInvalid, firstProblem, isObject } = require('./store-records');

const STORE_NAME = 'store.json';
// While the store cannot be read, reads try again at most this often.
const RETRY_MS = 1000;

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

// The next free number for ids of the form prefix + number.
function nextId(stored, items, prefix) {
  let next = Number.isSafeInteger(stored) && stored > 0 ? stored : 1;
  for (const { id } of items) {
    const n = id.startsWith(prefix) ? Number(id.slice(prefix.length)) : NaN;
    if (Number.isSafeInteger(n) && n >= next) next = n + 1;
  }
  return next;
}

// Fills in whatever a stored document lacks, so files from older versions
// and hand-edited files still load, and takes out the records that cannot
// be used. Returns the state and the records taken out.
function withDefaults(data) {
  const base = emptyState();
  const state = { ...base, ...data };
  const rejected = separateInvalid(state);
  for (const key of ['desktop', 'sync']) {
    state[key] = isObject(state[key]) ? { ...base[key], ...state[key] } : base[key];
  }
  state.nextRuleId = nextId(state.nextRuleId, state.rules, 'r-');
  state.nextAlertId = nextId(state.nextAlertId, state.alerts, 'n-');
  if (!Number.isSafeInteger(state.sync.count) || state.sync.count < 0) state.sync.count = 0;
  if (!Number.isSafeInteger(state.desktop.initializeCount)) state.desktop.initializeCount = 0;
  return { state, rejected };
}

// The service's data: one JSON document in memory, saved whole after every
// change. Changes are made on a copy that only becomes current once it has
// been written, so a failed write leaves memory and disk in agreement.
//
// Nothing stored is ever dropped without a trace: a file that does not parse
// is renamed aside, records that cannot be used are saved to a side file,
// and a file that cannot be read at all leaves the service running on empty
// data that refuses every change until the file can be read again.
class Store {
  constructor(dataDir) {
    this.dataDir = dataDir;
    this.file = path.join(dataDir, STORE_NAME);
    this.state = emptyState();
    this.unreadable = null; // why the file cannot be read, while it cannot
    this.lastAttempt = 0;
    this.movedAside = null; // where an unparsable file was kept
    this.setAside = null; // { file, count } of records that could not be used
  }

  // Loads the stored data. Never throws; problems show in status().
  open() {
    this.lastAttempt = Date.now();
    try {
      this.load();
      this.unreadable = null;
    } catch (err) {
      if (!this.unreadable) process.stderr.write(`store: cannot read ${this.file}: ${err.message}\n`);
      this.unreadable = err.code || err.message;
    }
    return this;
  }

  load() {
    fs.mkdirSync(this.dataDir, { recursive: true, mode: 0o700 });
    removeLeftoverTempFiles(this.file);
    let text;
    try {
      text = fs.readFileSync(this.file, 'utf8');
    } catch (err) {
      if (err.code !== 'ENOENT') throw err;
      this.state = emptyState();
      return;
    }
    let data;
    try {
      data = JSON.parse(text);
    } catch {
      data = undefined;
    }
    if (!isObject(data)) {
      // Keep the file for inspection instead of overwriting it.
      const aside = sideFileName(this.file, 'unreadable');
      fs.renameSync(this.file, aside);
      process.stderr.write(`store: ${this.file} could not be parsed; moved to ${aside}\n`);
      this.movedAside = aside;
      this.state = emptyState();
      return;
    }
    const { state, rejected } = withDefaults(data);
    if (rejected.length > 0) {
      // Save what is taken out before the store is rewritten without it.
      const aside = sideFileName(this.file, 'set-aside');
      writeFileAtomic(aside, `${JSON.stringify({ from: this.file, records: rejected }, null, 1)}\n`);
      writeFileAtomic(this.file, JSON.stringify(state, null, 1));
      process.stderr.write(`store: ${rejected.length} unusable record(s) in ${this.file} saved to ${aside}\n`);
      this.setAside = { file: aside, count: rejected.length };
    }
    this.state = state;
  }

  // The current data. While the file cannot be read this is empty data, and
  // reading it tries the file again now and then.
  read() {
    if (this.unreadable && Date.now() - this.lastAttempt >= RETRY_MS) this.open();
    return this.state;
  }

  // Runs change(draft) on a copy of the data; if it returns without
  // throwing, the copy is saved and becomes current. Returns what change
  // returned. Refused (503) while the file cannot be read or written.
  update(change) {
    if (this.unreadable) this.open();
    if (this.unreadable) throw new ApiError(503, '数据文件无法读取，暂时不能保存更改');
    const draft = structuredClone(this.state);
    const result = change(draft);
    const problem = firstProblem(draft);
    if (problem) throw new Error(`refusing to save an unusable record: ${problem}`);
    try {
      writeFileAtomic(this.file, JSON.stringify(draft, null, 1));
    } catch (err) {
      process.stderr.write(`store: cannot write ${this.file}: ${err.message}\n`);
      throw new ApiError(503, '数据文件无法写入，更改没有保存');
    }
    this.state = draft;
    return result;
  }

  status() {
    return {
      file: this.file,
      readable: !this.unreadable,
      error: this.unreadable,
      movedAside: this.movedAside,
      setAside: this.setAside,
    };
  }
}

module.exports = { Store, STORE_NAME };
