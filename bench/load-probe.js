'use strict';

// Loaded into the watchlist service with `node --require` (directly, or via
// NODE_OPTIONS for the service the local build launches itself). It changes
// nothing in the service's answers; it appends one JSON line per request to
// $BENCH_LOAD_LOG with the wall-clock time (sub-millisecond) at which it
// reached the server, so the benchmark can compare the page-load report, and
// the requests before it, with the time it started a program.
//
// With BENCH_PORTLESS_HOST=1 a service on port 80 also accepts the Host and
// Origin headers that browsers send for the default port ("127.0.0.1",
// "http://127.0.0.1"): the Host gets its ":80" back and a same-origin Origin
// is dropped. The benchmark sets it only when the service refuses those
// requests on its own.

const fs = require('fs');
const http = require('http');
const { performance } = require('perf_hooks');

const logFile = process.env.BENCH_LOAD_LOG;
const portlessHost = process.env.BENCH_PORTLESS_HOST === '1';
const LOCAL_NAMES = new Set(['127.0.0.1', 'localhost']);

const emit = http.Server.prototype.emit;
http.Server.prototype.emit = function emitWithProbe(event, req, ...rest) {
  if (event === 'request') {
    const address = this.address();
    const port = address && typeof address === 'object' ? address.port : null;
    if (logFile) {
      const atMs = performance.timeOrigin + performance.now();
      const line = { atMs, port, method: req.method, url: req.url, agent: req.headers['user-agent'] };
      fs.appendFileSync(logFile, `${JSON.stringify(line)}\n`);
    }
    if (portlessHost && port === 80) {
      const host = req.headers.host;
      if (host !== undefined && LOCAL_NAMES.has(host.toLowerCase())) {
        req.headers.host = `${host}:80`;
      }
      const origin = req.headers.origin;
      if (origin !== undefined && LOCAL_NAMES.has(origin.toLowerCase().replace(/^http:\/\//, ''))) {
        delete req.headers.origin;
      }
    }
  }
  return emit.call(this, event, req, ...rest);
};
