'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');

const DEFAULT_PORT = 45721;
// Numeric settings: a value outside its range is taken as the nearest end
// of the range, a value that is not a decimal number as the default; both
// are reported. The ranges keep the service sane: Node's timers take at
// most about 24.8 days and fire at once beyond it, and two quote requests
// (a full watchlist) must finish within the desktop client's 60 seconds.
const NUMBER_SETTINGS = {
  QUOTE_SYNC_INTERVAL_SECONDS: { min: 5, max: 86400, fallback: 180 },
  QUOTE_TIMEOUT_SECONDS: { min: 1, max: 25, fallback: 8 },
};
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

function boundedNumber(key, text, problems) {
  const { min, max, fallback } = NUMBER_SETTINGS[key];
  const value = text === undefined ? '' : String(text).trim();
  if (value === '') return fallback;
  const shown = value.length > 40 ? `${value.slice(0, 40)}…` : value;
  const n = /^\d+(\.\d+)?$/.test(value) ? Number(value) : NaN;
  if (!Number.isFinite(n)) {
    problems.push(`${key}=${shown} 不是数字，已改用默认值 ${fallback}`);
    return fallback;
  }
  if (n < min || n > max) {
    const used = n < min ? min : max;
    problems.push(`${key}=${shown} 超出范围 ${min}–${max}，已按 ${used} 处理`);
    return used;
  }
  return n;
}

function parsePort(text) {
  if (text === undefined || text === '') return DEFAULT_PORT;
  const n = Number(text);
  if (!Number.isInteger(n) || n < 0 || n > 65535) {
    throw new Error(`PORT must be a port number, got "${text}"`);
  }
  return n;
}

// The token travels in a header and a cookie, the proof in a header, so
// each must fit both: visible ASCII without blanks, quotes, commas,
// semicolons or backslashes. An empty one is the same as none.
function parseSecret(name, text) {
  if (text === undefined || text === '') return '';
  if (!/^[\x21\x23-\x2b\x2d-\x3a\x3c-\x5b\x5d-\x7e]+$/.test(text)) {
    throw new Error(`${name} must be visible ASCII characters without blanks, quotes, commas, semicolons or backslashes`);
  }
  return text;
}

// Builds the service configuration from its environment. PORT, DATA_DIR,
// ENV_FILE, QUORVEL_SERVICE_TOKEN and QUORVEL_SERVICE_PROOF come from the
// process environment (the last two are the desktop shell's, set anew at
// each launch, never the user's);
// every other setting comes from
// the .env file, falling back to the process environment and then to the
// defaults, so the file the user edits always has the last word.
function loadConfig(env = process.env) {
  const dataDir = path.resolve(env.DATA_DIR || path.join(os.homedir(), '.local', 'share', 'Quorvel'));
  const envFile = path.resolve(env.ENV_FILE || path.join(dataDir, '.env'));
  const file = readEnvFile(envFile);
  const get = (key) => (key in file ? file[key] : env[key]);
  const problems = [];
  const number = (key) => boundedNumber(key, get(key), problems);

  return {
    port: parsePort(env.PORT),
    serviceToken: parseSecret('QUORVEL_SERVICE_TOKEN', env.QUORVEL_SERVICE_TOKEN),
    serviceProof: parseSecret('QUORVEL_SERVICE_PROOF', env.QUORVEL_SERVICE_PROOF),
    dataDir,
    envFile,
    quoteProvider: (get('QUOTE_PROVIDER') || 'tencent').trim().toLowerCase(),
    syncIntervalSeconds: number('QUOTE_SYNC_INTERVAL_SECONDS'),
    tencentUrl: get('QUOTE_TENCENT_URL') || DEFAULT_TENCENT_URL,
    quoteTimeoutMs: Math.round(number('QUOTE_TIMEOUT_SECONDS') * 1000),
    emailMode: (get('EMAIL_DELIVERY_MODE') || 'log').trim().toLowerCase(),
    emailTo: get('EMAIL_TO') || '',
    emailFrom: get('EMAIL_FROM') || '',
    problems, // what was wrong with the settings, for the user
  };
}

module.exports = { parseEnvText, loadConfig, DEFAULT_TENCENT_URL, NUMBER_SETTINGS };
