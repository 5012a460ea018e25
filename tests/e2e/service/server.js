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
//   QUORVEL_SERVICE_TOKEN  sent back in X-Quorvel-Service-Token with every
//                  answer, as the real service does; without it, no such header
const fs = require('fs');
const http = require('http');

const log = process.env.E2E_LOG;
const token = process.env.QUORVEL_SERVICE_TOKEN || '';
if (process.env.E2E_STARTS) fs.appendFileSync(process.env.E2E_STARTS, `${process.pid} ${Date.now()}\n`);
if (process.env.E2E_DIE_FILE && fs.existsSync(process.env.E2E_DIE_FILE)) process.exit(1);
let pending = JSON.parse(process.env.E2E_PENDING || '[]');
// How the pending list answers: ok, 500, garbage, or hang (never answers).
let pendingMode = 'ok';
const page = process.env.E2E_PAGE
  ? fs.readFileSync(process.env.E2E_PAGE, 'utf8')
  : '<!doctype html><meta charset="utf-8"><title>scripted</title><h1>scripted service</h1>';

function record(entry) {
  if (log) fs.appendFileSync(log, JSON.stringify(entry) + '\n');
}

const server = http.createServer((req, res) => {
  if (token) res.setHeader('X-Quorvel-Service-Token', token);
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
      if (pendingMode === '500') {
        res.writeHead(500, { 'Content-Type': 'application/json' });
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

server.listen(Number(process.env.PORT), process.env.E2E_HOST || '127.0.0.1');
process.on('SIGTERM', () => process.exit(0));
