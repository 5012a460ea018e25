'use strict';

const { createRouter } = require('./router');
const { ApiError, sendJson, sendEmpty, sendError, readJsonBody, readJsonObject } = require('./http');
const { sendStatic } = require('./static-files');
const { ProviderError } = require('./providers/errors');

const SEGMENT = '([^/]+)';

// The HTTP face of the service: the page, the page's API and the endpoints
// the desktop shell calls. Returns a request listener.
function createApp({ config, provider, mailer, watchlist, desktop, syncer, staticFiles, getPort }) {
  const router = createRouter();
  const pageLoads = { count: 0, last: null };

  const route = (method, path, handler) => router.add(method, new RegExp(`^${path}$`), handler);

  route('GET', '/api/status', () => status());
  route('GET', '/api/overview', () => ({
    status: status(),
    watchlist: watchlist.listWatchlist(),
    rules: watchlist.listRules(),
    ...watchlist.listAlerts(),
  }));

  route('GET', '/api/watchlist', () => ({ items: watchlist.listWatchlist() }));
  route('POST', '/api/watchlist', async ({ req, res }) => {
    const item = watchlist.addSymbol(await readJsonObject(req));
    sendJson(res, 201, { item });
  });
  route('DELETE', `/api/watchlist/${SEGMENT}`, async ({ req, params }) => {
    await readJsonBody(req);
    return watchlist.removeSymbol(params[0]);
  });

  route('GET', '/api/rules', () => ({ rules: watchlist.listRules() }));
  route('POST', '/api/rules', async ({ req, res }) => {
    const rule = watchlist.addRule(await readJsonObject(req));
    sendJson(res, 201, { rule });
  });
  route('DELETE', `/api/rules/${SEGMENT}`, async ({ req, res, params }) => {
    await readJsonBody(req);
    watchlist.removeRule(params[0]);
    sendEmpty(res);
  });

  route('GET', '/api/alerts', () => watchlist.listAlerts());

  route('POST', '/api/quotes/sync', async ({ req }) => {
    await readJsonBody(req);
    return syncer.sync();
  });

  // The page reports once it has rendered; cheap, kept in memory only.
  route('POST', '/api/page-loaded', async ({ req, res }) => {
    const body = await readJsonBody(req);
    const loadMs = body && typeof body.loadMs === 'number' && Number.isFinite(body.loadMs) ? body.loadMs : null;
    pageLoads.count += 1;
    pageLoads.last = { at: new Date().toISOString(), loadMs };
    sendEmpty(res);
  });

  route('POST', '/api/desktop-notifications/initialize', async ({ req, res }) => {
    await readJsonBody(req);
    desktop.initialize(req.headers['x-quorvel-device']);
    sendEmpty(res);
  });
  route('GET', '/api/desktop-notifications/pending', () => ({ notifications: desktop.pending() }));
  route('POST', `/api/desktop-notifications/${SEGMENT}/mark-notified`, async ({ req, res, params }) => {
    await readJsonBody(req);
    desktop.markNotified(params[0]);
    sendEmpty(res);
  });

  for (const path of staticFiles.keys()) {
    router.add('GET', new RegExp(`^${path.replace(/[.]/g, '\\.')}$`), ({ req, res }) => {
      sendStatic(req, res, staticFiles.get(path));
    });
  }

  function status() {
    return {
      provider: provider.name,
      providerProblem: provider.problem || null,
      syncIntervalSeconds: config.syncIntervalSeconds,
      sync: syncer.status(),
      email: mailer.status(),
      desktop: desktop.info(),
      pageLoads,
    };
  }

  // The service listens on loopback only, but a web page in the user's
  // browser can still send requests to it. Requests must name this service
  // as their host (which defeats DNS rebinding), and changes must not come
  // from another site's page.
  function allowedHosts() {
    const port = getPort();
    const hosts = [`127.0.0.1:${port}`, `localhost:${port}`];
    // Browsers leave the default port out of Host and Origin.
    if (Number(port) === 80) hosts.push('127.0.0.1', 'localhost');
    return new Set(hosts);
  }

  function checkOrigin(req) {
    const hosts = allowedHosts();
    const host = req.headers.host;
    if (host !== undefined && !hosts.has(host.toLowerCase())) {
      throw new ApiError(403, '不接受来自该主机名的请求');
    }
    const origin = req.headers.origin;
    if (origin !== undefined && req.method !== 'GET' && req.method !== 'HEAD') {
      let ok = false;
      try {
        const url = new URL(origin);
        ok = url.protocol === 'http:' && hosts.has(url.host);
      } catch {
        ok = false;
      }
      if (!ok) throw new ApiError(403, '不接受来自其他网站的请求');
    }
  }

  async function handle(req, res) {
    const url = new URL(req.url, 'http://127.0.0.1');
    checkOrigin(req);
    const found = router.match(req.method, url.pathname);
    if (found.notFound) throw new ApiError(404, '没有这个接口');
    if (found.allowed) {
      res.setHeader('Allow', [...new Set(found.allowed)].join(', '));
      throw new ApiError(405, '不支持该请求方法');
    }
    const result = await found.handler({ req, res, params: found.params });
    if (res.headersSent) return;
    if (result === undefined) sendEmpty(res);
    else sendJson(res, 200, result);
  }

  return function onRequest(req, res) {
    handle(req, res).catch((err) => {
      if (res.headersSent || res.destroyed) return;
      if (err instanceof ApiError) {
        if (err.closeConnection) res.setHeader('Connection', 'close');
        sendError(res, err.status, err.message);
      } else if (err instanceof ProviderError) {
        sendError(res, 502, err.message);
      } else {
        process.stderr.write(`request ${req.method} ${req.url} failed: ${err.stack || err}\n`);
        sendError(res, 500, `服务内部错误：${err.message}`);
      }
    });
  };
}

module.exports = { createApp };
