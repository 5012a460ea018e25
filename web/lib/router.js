'use strict';

// A small method-and-path router. Patterns are regular expressions over the
// URL path; their groups are handed to the handler as decoded parameters.
// A path that matches with another method answers 405, a path that matches
// nothing answers 404.
function createRouter() {
  const routes = [];

  function add(method, pattern, handler) {
    routes.push({ method, pattern, handler });
  }

  function match(method, pathname) {
    const allowed = [];
    for (const route of routes) {
      const m = route.pattern.exec(pathname);
      if (!m) continue;
      if (route.method === method || (route.method === 'GET' && method === 'HEAD')) {
        let params;
        try {
          params = m.slice(1).map((p) => decodeURIComponent(p));
        } catch {
          return { notFound: true };
        }
        return { handler: route.handler, params };
      }
      allowed.push(route.method);
    }
    if (allowed.length > 0) return { allowed };
    return { notFound: true };
  }

  return { add, match };
}

module.exports = { createRouter };
