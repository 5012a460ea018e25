'use strict';

// Reading settings from the .env file the desktop shell writes.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parseEnvText, loadConfig } = require('../lib/config');

test('the .env format', () => {
  const text = [
    '# Quorvel桌面版配置',
    '# 修改后重启 App 生效。',
    '',
    'QUOTE_PROVIDER=tencent',
    'QUOTE_SYNC_INTERVAL_SECONDS=180',
    'EMAIL_TO=',
    'CLOUDFLARE_EMAIL_FROM=Quorvel <alerts@quorvel.invalid>',
    '  # QUOTE_PROVIDER=offline',
    'export EMAIL_DELIVERY_MODE="log"',
    "RESEND_FROM='a # b'",
    'QUOTE_TIMEOUT_SECONDS=5 # seconds',
    'not a setting',
  ].join('\r\n');
  assert.deepEqual(parseEnvText(text), {
    QUOTE_PROVIDER: 'tencent',
    QUOTE_SYNC_INTERVAL_SECONDS: '180',
    EMAIL_TO: '',
    CLOUDFLARE_EMAIL_FROM: 'Quorvel <alerts@quorvel.invalid>',
    EMAIL_DELIVERY_MODE: 'log',
    RESEND_FROM: 'a # b',
    QUOTE_TIMEOUT_SECONDS: '5',
  });
});

test('settings: file first, then environment, then defaults', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-config-'));
  try {
    const envFile = path.join(dir, '.env');
    const base = { PORT: '45721', DATA_DIR: dir, ENV_FILE: envFile };

    const defaults = loadConfig({ ...base, ENV_FILE: path.join(dir, 'missing.env') });
    assert.equal(defaults.quoteProvider, 'tencent');
    assert.equal(defaults.syncIntervalSeconds, 180);
    assert.equal(defaults.emailMode, 'log');

    fs.writeFileSync(envFile, 'QUOTE_PROVIDER=Offline\nQUOTE_SYNC_INTERVAL_SECONDS=abc\n');
    const config = loadConfig({ ...base, QUOTE_PROVIDER: 'tencent', EMAIL_DELIVERY_MODE: 'resend' });
    assert.equal(config.quoteProvider, 'offline');
    assert.equal(config.emailMode, 'resend');
    assert.equal(config.syncIntervalSeconds, 180, 'an unusable interval falls back to the default');
    assert.equal(config.port, 45721);

    fs.writeFileSync(envFile, 'QUOTE_SYNC_INTERVAL_SECONDS=1\n');
    assert.equal(loadConfig(base).syncIntervalSeconds, 5, 'the interval has a floor');

    // Beyond about 24.8 days Node's timers fire every millisecond.
    fs.writeFileSync(envFile, 'QUOTE_SYNC_INTERVAL_SECONDS=2200000\nQUOTE_TIMEOUT_SECONDS=2200000\n');
    const huge = loadConfig(base);
    assert.equal(huge.syncIntervalSeconds, 86400);
    assert.equal(huge.quoteTimeoutMs, 25000);
    assert.equal(huge.problems.length, 2);
    fs.writeFileSync(envFile, 'QUOTE_TIMEOUT_SECONDS=0x10\n');
    assert.equal(loadConfig(base).quoteTimeoutMs, 8000, 'only decimals');
    assert.throws(() => loadConfig({ ...base, PORT: 'http' }), /PORT/);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
