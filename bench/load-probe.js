'use strict';

// Loaded into the watchlist service with `node --require` (directly, or via
// NODE_OPTIONS for the service the local build launches itself). It changes
// nothing in the service's answers; it appends one JSON line per request to
// $BENCH_LOAD_LOG with the wall-clock time (sub-millisecond) at which it
// reached the server, so the benchmark can compare the page-load report, and
// the requests before it, with the time it started a program.

const fs = require('fs');
const http = require('http');
const { performance } = require('perf_hooks');

const logFile = process.env.BENCH_LOAD_LOG;

const emit = http.Server.prototype.emit;
http.Server.prototype.emit = function emitWithProbe(event, req, ...rest) {
  if (event === 'request' && logFile) {
    const atMs = performance.timeOrigin + performance.now();
    const address = this.address();
    const port = address && typeof address === 'object' ? address.port : null;
    const line = { atMs, port, method: req.method, url: req.url };
    fs.appendFileSync(logFile, `${JSON.stringify(line)}\n`);
  }
  return emit.call(this, event, req, ...rest);
};
