'use strict';

// Quorvel's local service: the watchlist page and its API on 127.0.0.1.
//
// Environment: PORT (default 45721; 0 picks a free port), DATA_DIR (the data
// folder), ENV_FILE (the settings file, .env format) and, when the desktop
// shell starts it, QUORVEL_SERVICE_TOKEN (what every request but the page's
// must carry) and QUORVEL_SERVICE_PROOF (sent back with every answer). Data
// is kept in one JSON file in DATA_DIR. Stops on SIGTERM or SIGINT. Exits
// with PORT_TAKEN_STATUS when the port is taken, so that the shell can try
// another.

const http = require('http');
const path = require('path');
const { loadConfig } = require('./lib/config');
const { Store } = require('./lib/store');
const { createProvider } = require('./lib/providers');
const { createMailer } = require('./lib/mailer');
const { createWatchlistService } = require('./lib/watchlist-service');
const { createDesktopService } = require('./lib/desktop-service');
const { createSyncService } = require('./lib/sync-service');
const { loadStaticFiles } = require('./lib/static-files');
const { createApp } = require('./lib/app');
const { answerClientError } = require('./lib/http');

const FIRST_SYNC_DELAY_MS = 1000;
const SHUTDOWN_GRACE_MS = 1000;
const PORT_TAKEN_STATUS = 3;

function log(message) {
  process.stdout.write(`[quorvel-web] ${message}\n`);
}

function main() {
  const config = loadConfig();
  for (const problem of config.problems) process.stderr.write(`[quorvel-web] setting: ${problem}\n`);
  const store = new Store(config.dataDir).open();
  const provider = createProvider(config);
  const mailer = createMailer(config);
  const watchlist = createWatchlistService({ store });
  const desktop = createDesktopService({ store });
  const syncer = createSyncService({ store, provider, mailer });
  const staticFiles = loadStaticFiles(path.join(__dirname, 'public'));

  const server = http.createServer();
  const app = createApp({
    config, store, provider, mailer, watchlist, desktop, syncer, staticFiles,
    getPort: () => server.address().port,
  });
  server.on('request', app);
  if (config.serviceProof) server.on('clientError', (err, socket) => answerClientError(err, socket, config.serviceProof));
  server.keepAliveTimeout = 5000;
  server.headersTimeout = 20000;
  server.requestTimeout = 60000;

  const timers = [];
  const autoSync = () => {
    if (store.read().watchlist.length === 0) return;
    syncer.sync().catch((err) => log(`sync failed: ${err.message}`));
  };

  server.on('error', (err) => {
    process.stderr.write(`[quorvel-web] cannot listen on 127.0.0.1:${config.port}: ${err.message}\n`);
    process.exit(err.code === 'EADDRINUSE' ? PORT_TAKEN_STATUS : 1);
  });
  server.listen(config.port, '127.0.0.1', () => {
    log(`listening on http://127.0.0.1:${server.address().port} provider=${provider.name} data=${config.dataDir}`);
    if (provider.problem) log(`quote provider problem: ${provider.problem}`);
    if (!config.serviceToken) log('no QUORVEL_SERVICE_TOKEN: every account on this machine may use this service');
    timers.push(setTimeout(autoSync, FIRST_SYNC_DELAY_MS));
    timers.push(setInterval(autoSync, config.syncIntervalSeconds * 1000));
  });

  // Every store write is synchronous and atomic, so nothing can be half
  // written when a signal arrives: stop listening, drop idle connections
  // and leave.
  let stopping = false;
  const stop = (signal) => {
    if (stopping) return;
    stopping = true;
    log(`${signal} received, stopping`);
    timers.forEach((t) => clearTimeout(t));
    server.close(() => process.exit(0));
    server.closeIdleConnections();
    setTimeout(() => process.exit(0), SHUTDOWN_GRACE_MS).unref();
  };
  process.on('SIGTERM', () => stop('SIGTERM'));
  process.on('SIGINT', () => stop('SIGINT'));
}

main();
