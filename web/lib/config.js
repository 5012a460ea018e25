'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');

const DEFAULT_PORT = 45721;
const DEFAULT_SYNC_INTERVAL_SECONDS = 180;
const MIN_SYNC_INTERVAL_SECONDS = 5;
const DEFAULT_QUOTE_TIMEOUT_SECONDS = 8;
const DEFAULT_TENCENT_URL = 'http://qt.gtimg.cn/q=';

// Parses the .env format: KEY=value lines, "#" comment lines and blank
// lines. An optional "export " prefix is allowed; a value wrapped in single
// or double quotes loses them; an unquoted value loses a trailing " # ..."
// comment. Lines that are not settings are ignored. Later keys win.
function parseEnvText(text) {
  const settings = {};
  for (const rawLine of String(text).split(/\r\n|[\n\r\v\f\u0085\u2028\u2029]/)) {
    const line = rawLine.trim();
    if (line === '' || line.startsWith('#')) continue;
    const m = /^(?:export\s+)?([A-Za-z_][A-Za-z0-9_]*)\s*=(.*)$/.exec(line);
    if (!m) continue;
    let value = m[2].trim();
    const quoted = /^(["'])(.*)\1$/.exec(value);
    if (quoted) value = quoted[2];
    else value = value.replace(/\s+#.*$/, '');
    settings[m[1]] = value;
  }
  return settings;
}

function readEnvFile(file) {
  try {
    return parseEnvText(fs.readFileSync(file, 'utf8'));
  } catch (err) {
    if (err.code === 'ENOENT' || err.code === 'ENOTDIR') return {};
    throw err;
  }
}

function positiveNumber(text, fallback) {
  if (text === undefined || String(text).trim() === '') return fallback;
  const n = Number(text);
  return Number.isFinite(n) && n > 0 ? n : fallback;
}

function parsePort(text) {
  if (text === undefined || text === '') return DEFAULT_PORT;
  const n = Number(text);
  if (!Number.isInteger(n) || n < 0 || n > 65535) {
    throw new Error(`PORT must be a port number, got "${text}"`);
  }
  return n;
}

// Builds the service configuration from its environment. PORT, DATA_DIR and
// ENV_FILE come from the process environment; every other setting comes from
// the .env file, falling back to the process environment and then to the
// defaults, so the file the user edits always has the last word.
function loadConfig(env = process.env) {
  const dataDir = path.resolve(env.DATA_DIR || path.join(os.homedir(), '.local', 'share', 'Quorvel'));
  const envFile = path.resolve(env.ENV_FILE || path.join(dataDir, '.env'));
  const file = readEnvFile(envFile);
  const get = (key) => (key in file ? file[key] : env[key]);

  const interval = Math.max(
    MIN_SYNC_INTERVAL_SECONDS,
    positiveNumber(get('QUOTE_SYNC_INTERVAL_SECONDS'), DEFAULT_SYNC_INTERVAL_SECONDS),
  );
  return {
    port: parsePort(env.PORT),
    dataDir,
    envFile,
    quoteProvider: (get('QUOTE_PROVIDER') || 'tencent').trim().toLowerCase(),
    syncIntervalSeconds: interval,
    tencentUrl: get('QUOTE_TENCENT_URL') || DEFAULT_TENCENT_URL,
    quoteTimeoutMs: Math.round(
      positiveNumber(get('QUOTE_TIMEOUT_SECONDS'), DEFAULT_QUOTE_TIMEOUT_SECONDS) * 1000,
    ),
    emailMode: (get('EMAIL_DELIVERY_MODE') || 'log').trim().toLowerCase(),
    emailTo: get('EMAIL_TO') || '',
    emailFrom: get('EMAIL_FROM') || '',
  };
}

module.exports = { parseEnvText, loadConfig, DEFAULT_TENCENT_URL };
