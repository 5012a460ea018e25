'use strict';

// Calls to the local service's JSON API. Every failure becomes an Error
// whose message is the service's own explanation when it gave one.
window.QuorvelApi = (function () {
  async function request(method, path, body) {
    const options = { method, headers: {} };
    if (body !== undefined) {
      options.headers['Content-Type'] = 'application/json';
      options.body = JSON.stringify(body);
    }
    let res;
    try {
      res = await fetch(path, options);
    } catch (err) {
      const failure = new Error('无法连接本地服务');
      failure.unreachable = true;
      throw failure;
    }
    const text = await res.text();
    let data = null;
    if (text) {
      try { data = JSON.parse(text); } catch (err) { data = null; }
    }
    if (!res.ok) {
      throw new Error((data && data.error) || `请求失败（${res.status}）`);
    }
    return data;
  }

  return {
    get: (path) => request('GET', path),
    post: (path, body) => request('POST', path, body),
    del: (path) => request('DELETE', path),
  };
})();
