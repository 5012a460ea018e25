'use strict';
// Sends one request to each route of the local service and prints
// "STATUS METHOD PATH" a line; the headers to send come as JSON.
//   node service-requests.js PORT HEADERS-JSON
const http = require('http');

const [port, headersJson] = process.argv.slice(2);
const headers = JSON.parse(headersJson || '{}');
const { API_ROUTES: routes } = require('../../../web/test-helpers/routes');

function send(method, path, json) {
  return new Promise((resolve) => {
    const body = json === undefined ? undefined : JSON.stringify(json);
    const req = http.request({
      host: '127.0.0.1', port: Number(port), method, path,
      headers: { ...headers, ...(body ? { 'Content-Type': 'application/json' } : {}) },
    }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    });
    req.on('error', () => resolve(0));
    req.end(body);
  });
}

(async () => {
  for (const [method, path, json] of routes) {
    console.log(`${await send(method, path, json)} ${method} ${path}`);
  }
})();
