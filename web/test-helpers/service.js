'use strict';

// Starts the real service as a child process, the way the desktop shell
// does, in its own temporary data folder and on a free loopback port.

const { spawn } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const WEB_DIR = path.resolve(__dirname, '..');
const SERVER = path.join(WEB_DIR, 'server.js');

function makeDataDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-web-test-'));
}

function writeEnvFile(dataDir, settings) {
  const file = path.join(dataDir, '.env');
  const lines = ['# test settings', ...Object.entries(settings).map(([k, v]) => `${k}=${v}`)];
  fs.writeFileSync(file, `${lines.join('\n')}\n`);
  return file;
}

// settings: .env entries (defaults: offline quotes, no automatic sync
// during the test); env: more process environment. Resolves once the service has said where it listens.
async function startService(options = {}) {
  const ownDir = options.dataDir === undefined;
  const dataDir = ownDir ? makeDataDir() : options.dataDir;
  try {
    return await launch({ ...options, dataDir });
  } catch (err) {
    if (ownDir) fs.rmSync(dataDir, { recursive: true, force: true });
    throw err;
  }
}

function launch({ settings = {}, env = {}, dataDir, port = 0 }) {
  const envFile = writeEnvFile(dataDir, {
    QUOTE_PROVIDER: 'offline',
    QUOTE_SYNC_INTERVAL_SECONDS: 3600,
    EMAIL_DELIVERY_MODE: 'log',
    ...settings,
  });
  const child = spawn(process.execPath, [SERVER], {
    cwd: WEB_DIR,
    env: { PATH: process.env.PATH, PORT: String(port), DATA_DIR: dataDir, ENV_FILE: envFile, ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  let output = '';
  child.stderr.on('data', (d) => { output += d; });

  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`service did not start:\n${output}`));
    }, 10000);
    child.stdout.on('data', (d) => {
      output += d;
      const m = /listening on http:\/\/127\.0\.0\.1:(\d+)/.exec(output);
      if (m && timer) {
        clearTimeout(timer);
        resolve(makeHandle(child, exited, dataDir, Number(m[1]), () => output));
      }
    });
    exited.then(({ code }) => reject(new Error(`service exited (${code}) before listening:\n${output}`)));
  });
}

function makeHandle(child, exited, dataDir, port, output) {
  const handle = {
    child,
    exited,
    dataDir,
    port,
    base: `http://127.0.0.1:${port}`,
    output,
    storeFile: path.join(dataDir, 'store.json'),
    request: (method, urlPath, options) => request(port, method, urlPath, options),
    get: (urlPath) => request(port, 'GET', urlPath),
    post: (urlPath, json) => request(port, 'POST', urlPath, json === undefined ? {} : { json }),
    readStore: () => JSON.parse(fs.readFileSync(handle.storeFile, 'utf8')),
    async stop({ keepData = false } = {}) {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
      await exited;
      if (!keepData) fs.rmSync(dataDir, { recursive: true, force: true });
    },
  };
  return handle;
}

// One HTTP request to the service. options: json (sent as a JSON body),
// body (raw string or Buffer), headers. Resolves with status, headers, the
// body text and, when the body is JSON, its value.
function request(port, method, urlPath, { json, body, headers = {} } = {}) {
  let payload = body;
  const hdrs = { ...headers };
  if (json !== undefined) {
    payload = JSON.stringify(json);
    hdrs['Content-Type'] = 'application/json';
  }
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: urlPath, headers: hdrs, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let value;
        try { value = text ? JSON.parse(text) : undefined; } catch { value = undefined; }
        resolve({ status: res.statusCode, headers: res.headers, text, json: value });
      });
    });
    req.on('error', reject);
    req.end(payload);
  });
}

// A loopback port that nothing listens on.
function closedPort() {
  return new Promise((resolve) => {
    const srv = http.createServer().listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

module.exports = { startService, makeDataDir, closedPort, request, WEB_DIR };
