'use strict';
// A scripted stand-in for the local service, launched by the shell in the
// end-to-end runs. It serves a page, a queue of pending notifications and the
// endpoints the shell calls, and appends every request it sees to a log, one
// JSON object a line, for the test to read.
//   PORT           where to listen on 127.0.0.1
//   E2E_LOG        the request log
//   E2E_PENDING    JSON array of pending notifications
//   E2E_PAGE       the page to serve at / (a file); a plain page otherwise
const fs = require('fs');
const http = require('http');

const log = process.env.E2E_LOG;
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
  let body = '';
  req.setEncoding('utf8');
  req.on('data', (chunk) => { body += chunk; });
  req.on('end', () => {
    record({ method: req.method, url: req.url, headers: req.headers, body });
    const url = new URL(req.url, 'http://127.0.0.1');
    const ack = url.pathname.match(/^\/api\/desktop-notifications\/([^/]+)\/mark-notified$/);
    if (req.method === 'GET' && url.pathname === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(page);
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

server.listen(Number(process.env.PORT), '127.0.0.1');
process.on('SIGTERM', () => process.exit(0));
