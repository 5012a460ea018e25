'use strict';

// Just enough of the Chrome DevTools protocol for the page test: start
// headless Chromium on loopback, connect to a page over a WebSocket (a
// minimal client: text frames, masking, ping), send commands, wait for
// events.

const { spawn } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const CHROMIUM = '/usr/bin/chromium';

function getJson(url) {
  return new Promise((resolve, reject) => {
    http.get(url, { agent: false }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (d) => { text += d; });
      res.on('end', () => {
        try { resolve(JSON.parse(text)); } catch (err) { reject(err); }
      });
    }).on('error', reject);
  });
}

function encodeFrame(text) {
  const payload = Buffer.from(text);
  const len = payload.length;
  let header;
  if (len < 126) {
    header = Buffer.from([0x81, 0x80 | len]);
  } else if (len < 65536) {
    header = Buffer.alloc(4);
    header.writeUInt8(0x81, 0);
    header.writeUInt8(0x80 | 126, 1);
    header.writeUInt16BE(len, 2);
  } else {
    header = Buffer.alloc(10);
    header.writeUInt8(0x81, 0);
    header.writeUInt8(0x80 | 127, 1);
    header.writeBigUInt64BE(BigInt(len), 2);
  }
  const mask = crypto.randomBytes(4);
  const masked = Buffer.alloc(len);
  for (let i = 0; i < len; i++) masked[i] = payload[i] ^ mask[i % 4];
  return Buffer.concat([header, mask, masked]);
}

// Splits complete frames off the front of buf; returns them and the rest.
function decodeFrames(buf) {
  const frames = [];
  for (;;) {
    if (buf.length < 2) break;
    const opcode = buf[0] & 0x0f;
    const fin = (buf[0] & 0x80) !== 0;
    let len = buf[1] & 0x7f;
    let offset = 2;
    if (len === 126) {
      if (buf.length < 4) break;
      len = buf.readUInt16BE(2);
      offset = 4;
    } else if (len === 127) {
      if (buf.length < 10) break;
      len = Number(buf.readBigUInt64BE(2));
      offset = 10;
    }
    if (buf.length < offset + len) break;
    frames.push({ opcode, fin, payload: buf.subarray(offset, offset + len) });
    buf = buf.subarray(offset + len);
  }
  return { frames, rest: buf };
}

function connect(wsUrl) {
  const url = new URL(wsUrl);
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: url.hostname,
      port: url.port,
      path: url.pathname,
      headers: {
        Connection: 'Upgrade',
        Upgrade: 'websocket',
        'Sec-WebSocket-Version': '13',
        'Sec-WebSocket-Key': crypto.randomBytes(16).toString('base64'),
      },
    });
    req.on('upgrade', (res, socket, head) => resolve(new Session(socket, head)));
    req.on('response', (res) => reject(new Error(`no WebSocket upgrade: ${res.statusCode}`)));
    req.on('error', reject);
    req.end();
  });
}

class Session {
  constructor(socket, head) {
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffer = Buffer.from(head || []);
    let partial = [];
    socket.on('data', (data) => {
      const { frames, rest } = decodeFrames(Buffer.concat([buffer, data]));
      buffer = rest;
      for (const f of frames) {
        if (f.opcode === 0x9) socket.write(Buffer.from([0x8a, 0x80, 0, 0, 0, 0]));
        if (f.opcode !== 0x1 && f.opcode !== 0x0) continue;
        partial.push(f.payload);
        if (!f.fin) continue;
        const message = JSON.parse(Buffer.concat(partial).toString('utf8'));
        partial = [];
        this.dispatch(message);
      }
    });
    socket.on('close', () => {
      for (const { reject } of this.pending.values()) reject(new Error('DevTools connection closed'));
      this.pending.clear();
    });
  }

  dispatch(message) {
    if (message.id && this.pending.has(message.id)) {
      const { resolve, reject } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(message.error.message));
      else resolve(message.result);
      return;
    }
    for (const listener of [...this.listeners]) listener(message);
  }

  send(method, params = {}) {
    const id = this.nextId++;
    this.socket.write(encodeFrame(JSON.stringify({ id, method, params })));
    return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject }));
  }

  // Resolves with the params of the next event of that name.
  waitForEvent(method, timeoutMs = 10000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.listeners = this.listeners.filter((l) => l !== listener);
        reject(new Error(`timed out waiting for ${method}`));
      }, timeoutMs);
      const listener = (message) => {
        if (message.method !== method) return;
        clearTimeout(timer);
        this.listeners = this.listeners.filter((l) => l !== listener);
        resolve(message.params);
      };
      this.listeners.push(listener);
    });
  }

  // Evaluates an expression in the page and returns its value.
  async evaluate(expression) {
    const result = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    const failure = result.exceptionDetails;
    if (failure) throw new Error(`page error: ${(failure.exception && failure.exception.description) || failure.text}`);
    return result.result.value;
  }

  // Polls an expression until it yields a truthy value; an exception (the
  // page not there yet) counts as false.
  async waitFor(expression, timeoutMs = 10000) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const value = await this.evaluate(`(() => { try { return (${expression}); } catch (e) { return false; } })()`);
      if (value) return value;
      if (Date.now() > deadline) throw new Error(`timed out waiting for: ${expression}`);
      await new Promise((r) => setTimeout(r, 100));
    }
  }

  close() {
    this.socket.destroy();
  }
}

// Starts headless Chromium on url; resolves with a DevTools session on the
// page and a stop function.
async function launchBrowser(url, { width = 1280, height = 820 } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-chromium-'));
  const child = spawn(CHROMIUM, [
    '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-dev-shm-usage', '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0',
    `--user-data-dir=${profile}`, `--window-size=${width},${height}`, url,
  ], { stdio: ['ignore', 'ignore', 'pipe'], detached: true });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  let session = null;
  // Ask Chromium to close through the protocol (SIGTERM is slow to end it
  // headless); if it has not gone in time, kill its whole process group.
  const stop = async () => {
    if (session && child.exitCode === null && child.signalCode === null) {
      session.send('Browser.close').catch(() => {});
      await Promise.race([exited, new Promise((r) => setTimeout(r, 3000).unref())]);
      session.close();
    }
    try { process.kill(-child.pid, 'SIGKILL'); } catch { /* already gone */ }
    await exited;
    child.stderr.destroy();
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 50 });
  };
  try {
    const port = await new Promise((resolve, reject) => {
      let err = '';
      const timer = setTimeout(() => reject(new Error(`Chromium did not start:\n${err}`)), 20000);
      child.stderr.on('data', (d) => {
        err += d;
        const m = /DevTools listening on (ws:\/\/127\.0\.0\.1:(\d+)\/\S+)/.exec(err);
        if (m) {
          clearTimeout(timer);
          resolve(Number(m[2]));
        }
      });
      exited.then(() => reject(new Error(`Chromium exited:\n${err}`)));
    });
    const targets = await getJson(`http://127.0.0.1:${port}/json/list`);
    const page = targets.find((t) => t.type === 'page');
    if (!page) throw new Error('Chromium has no page target');
    session = await connect(page.webSocketDebuggerUrl);
    return { session, stop };
  } catch (err) {
    await stop();
    throw err;
  }
}

module.exports = { launchBrowser, CHROMIUM };
