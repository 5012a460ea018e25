'use strict';

const { createRouter } = require('./router');
const {
  ApiError, sendJson, sendEmpty, sendError, readJsonBody, readJsonObject, SERVICE_PROOF_HEADER,
} = require('./http');
const { createAccess } = require('./access');
const { sendStatic } = require('./static-files');
const { ProviderError } = require('./providers/errors');

const SEGMENT = '([^/]+)';

// The HTTP face of the service: the page, the page's API and the endpoints
// the desktop shell calls. Returns a request listener.
function createApp({ config, store, provider, mailer, watchlist, desktop, syncer, staticFiles, getPort }) {
  const router = createRouter();
  const pageLoads = { count: 0, last: null };
  const access = createAccess(config.serviceToken, getPort);

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
      store: store.status(),
      settingsProblems: config.problems,
      notices: notices(),
    };
  }

  // What the page shows above everything else: problems with the stored
  // data and with the settings, in the user's words.
  function notices() {
    const s = store.status();
    const list = [];
    if (!s.readable) {
      list.push(`无法读取数据文件 ${s.file}（${s.error}）。页面暂时显示为空，所有更改都不会保存；问题解决后自动恢复。`);
    }
    if (s.movedAside) {
      list.push(`数据文件 ${s.file} 已损坏，无法解析。原文件已另存为 ${s.movedAside}，本地服务以空数据启动。`);
    }
    if (s.setAside) {
      list.push(`数据文件中有 ${s.setAside.count} 条记录无效，未载入；它们已另存到 ${s.setAside.file}。`);
    }
    for (const problem of config.problems) list.push(`设置有误：${problem}`);
    return list;
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
    if (req.method === 'GET' || req.method === 'HEAD') return;
    const origin = req.headers.origin;
    let ok;
    if (origin !== undefined) {
      try {
        const url = new URL(origin);
        ok = url.protocol === 'http:' && hosts.has(url.host);
      } catch {
        ok = false;
      }
    } else {
      // Without an Origin, a browser still says where the request came from;
      // pages on other local ports count as the same site.
      const site = req.headers['sec-fetch-site'];
      ok = site !== 'cross-site' && site !== 'same-site';
    }
    if (!ok) throw new ApiError(403, '不接受来自其他网站的请求');
  }

  // The page and its files hold no data: they are everyone's.
  function isPublic(req, path) {
    return (req.method === 'GET' || req.method === 'HEAD') && staticFiles.has(path);
  }

  async function handle(req, res) {
    const { path, query } = requestTarget(req.url);
    checkOrigin(req);
    if (path === '/' && access.answerLogin(req, res, query)) return;
    if (!isPublic(req, path)) access.require(req);
    const found = router.match(req.method, path);
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
    // Before anything else, so that errors and refusals carry it too.
    if (config.serviceProof) res.setHeader(SERVICE_PROOF_HEADER, config.serviceProof);
    handle(req, res).catch((err) => {
      if (res.headersSent || res.destroyed) return;
      if (err instanceof ApiError) {
        if (err.closeConnection) res.setHeader('Connection', 'close');
        sendError(res, err.status, err.message);
      } else if (err instanceof ProviderError) {
        sendError(res, 502, err.message);
      } else {
        // The details are for the service's own log, not for the caller.
        process.stderr.write(`request ${req.method} ${JSON.stringify(req.url)} failed: ${err.stack || err}\n`);
        sendError(res, 500, '服务内部错误');
      }
    });
  };
}

// The path and query of a request target. Only the origin form
// ("/path?query") is taken, and it is used as it is: "//host/api/..." or
// "/\host/api/..." is a path that names no endpoint, not a reference to
// resolve against a host.
function requestTarget(target) {
  if (typeof target !== 'string' || !target.startsWith('/')) throw new ApiError(400, '请求地址无效');
  const end = target.search(/[?#]/);
  if (end === -1) return { path: target, query: null };
  const fragment = target.indexOf('#', end);
  const query = target[end] === '?' ? target.slice(end + 1, fragment === -1 ? undefined : fragment) : null;
  return { path: target.slice(0, end), query };
}

module.exports = { createApp };
