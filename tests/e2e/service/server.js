'use strict';
// A scripted stand-in for the local service, launched by the shell in the
// end-to-end runs. It serves a page, a queue of pending notifications and the
// endpoints the shell calls, and appends every request it sees to a log, one
// JSON object a line (with the time it arrived, "at", in milliseconds), for
// the test to read.
//   PORT           where to listen
//   E2E_HOST       on which address (default 127.0.0.1)
//   E2E_LOG        the request log
//   E2E_PENDING    JSON array of pending notifications
//   E2E_PAGE       the page to serve at / (a file); a plain page otherwise;
//                  /download/NAME answers "new" as an attachment named NAME
//   E2E_STARTS     a file that gets a line "PID MILLISECONDS" at each start
//   E2E_DIE_FILE   while this file exists, the service exits with status 1
//                  right after its start, before it listens
//   E2E_THIEF_FILE while this file exists (it is removed), another program
//                  takes the port just before the service binds it, as if it
//                  had come between the shell's check and the bind; it
//                  answers 200 without the proof, logs each "METHOD URL" to
//                  E2E_THIEF_LOG and writes its pid to E2E_THIEF_FILE.pid.
//                  The service then ends with status 3, as the real one does.
//   QUORVEL_SERVICE_PROOF  sent back in X-Quorvel-Service-Proof with every
//                  answer, as the real service does; without it, no such header
const fs = require('fs');
const http = require('http');

const log = process.env.E2E_LOG;
const proof = process.env.QUORVEL_SERVICE_PROOF || '';
if (process.env.E2E_STARTS) fs.appendFileSync(process.env.E2E_STARTS, `${process.pid} ${Date.now()}\n`);
if (process.env.E2E_DIE_FILE && fs.existsSync(process.env.E2E_DIE_FILE)) process.exit(1);
let pending = JSON.parse(process.env.E2E_PENDING || '[]');
// How the pending list answers: ok, an error status (500, 503, 401...),
// garbage, or hang (never answers).
let pendingMode = 'ok';
const page = process.env.E2E_PAGE
  ? fs.readFileSync(process.env.E2E_PAGE, 'utf8')
  : '<!doctype html><meta charset="utf-8"><title>scripted</title><h1>scripted service</h1>';

function record(entry) {
  if (log) fs.appendFileSync(log, JSON.stringify(entry) + '\n');
}

const server = http.createServer((req, res) => {
  if (proof) res.setHeader('X-Quorvel-Service-Proof', proof);
  let body = '';
  req.setEncoding('utf8');
  req.on('data', (chunk) => { body += chunk; });
  req.on('end', () => {
    record({ method: req.method, url: req.url, headers: req.headers, body, at: Date.now() });
    const url = new URL(req.url, 'http://127.0.0.1');
    const ack = url.pathname.match(/^\/api\/desktop-notifications\/([^/]+)\/mark-notified$/);
    if (req.method === 'GET' && url.pathname === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(page);
    } else if (req.method === 'GET' && url.pathname.startsWith('/download/')) {
      const name = decodeURIComponent(url.pathname.slice('/download/'.length));
      res.writeHead(200, { 'Content-Type': 'text/plain',
                           'Content-Disposition': `attachment; filename="${name}"` });
      res.end('new');
    } else if (req.method === 'GET' && url.pathname === '/api/desktop-notifications/pending') {
      if (pendingMode === 'hang') return;
      if (/^[45]\d\d$/.test(pendingMode)) {
        res.writeHead(Number(pendingMode), { 'Content-Type': 'application/json' });
        res.end('{"error":"scripted failure"}');
        return;
      }
      res.writeHead(200, { 'Content-Type': 'application/json' });
      res.end(pendingMode === 'garbage' ? '\u0000{"notifications": [' : JSON.stringify({ notifications: pending }));
    } else if (req.method === 'POST' && url.pathname === '/control/pending-mode') {
      pendingMode = body.trim();
      res.writeHead(204);
      res.end();
    } else if (req.method === 'POST' && ack) {
      const id = decodeURIComponent(ack[1]);
      const before = pending.length;
      pending = pending.filter((n) => n.id !== id);
      res.writeHead(pending.length < before ? 204 : 404);
      res.end();
    } else if (req.method === 'POST' && url.pathname === '/api/desktop-notifications/pending/add') {
      pending.push(...JSON.parse(body));
      res.writeHead(204);
      res.end();
    } else if (req.method === 'POST' &&
               ['/api/desktop-notifications/initialize', '/report'].includes(url.pathname)) {
      res.writeHead(204);
      res.end();
    } else if (req.method === 'POST' && url.pathname === '/api/quotes/sync') {
      res.writeHead(200, { 'Content-Type': 'application/json' });
      res.end('{"synced":0}');
    } else {
      res.writeHead(404, { 'Content-Type': 'application/json' });
      res.end('{"error":"not found"}');
    }
  });
});

const thiefFile = process.env.E2E_THIEF_FILE;
server.on('error', (err) => process.exit(err.code === 'EADDRINUSE' ? 3 : 1));
const listen = () => server.listen(Number(process.env.PORT), process.env.E2E_HOST || '127.0.0.1');
if (thiefFile && fs.existsSync(thiefFile)) {
  fs.unlinkSync(thiefFile);
  const thief = require('child_process').spawn(process.execPath, ['-e', `
    const fs = require('fs');
    fs.writeFileSync(process.argv[1] + '.pid', String(process.pid));
    require('http').createServer((req, res) => {
      fs.appendFileSync(process.argv[2], req.method + ' ' + req.url + '\\n');
      res.end('<title>thief</title>thief');
    }).listen(Number(process.env.PORT), '127.0.0.1');`, thiefFile, process.env.E2E_THIEF_LOG],
  { detached: true, stdio: 'ignore' });
  thief.unref();
  const tryPort = () => {
    const probe = require('net').connect(Number(process.env.PORT), '127.0.0.1', () => { probe.destroy(); listen(); });
    probe.on('error', () => setTimeout(tryPort, 50));
  };
  tryPort();
} else {
  listen();
}
process.on('SIGTERM', () => process.exit(0));
