'use strict';

// Only the launch token opens the service: every account of the machine
// reaches the loopback port, the page and its files are all it gets without.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { startService } = require('../test-helpers/service');
const { API_ROUTES } = require('../test-helpers/routes');

const TOKEN = '5f0c1d2e3a4b5c6d7e8f90a1b2c3d4e5';

const ROUTES = [...API_ROUTES, ['GET', '/api/nosuch']];

const WRONG = [
  ['no token', {}],
  ['a wrong token', { 'X-Quorvel-Service-Token': TOKEN.replace('5', '6') }],
  ['a shorter token', { 'X-Quorvel-Service-Token': TOKEN.slice(1) }],
  ['an empty token', { 'X-Quorvel-Service-Token': '' }],
  ['a wrong cookie', { Cookie: `quorvel_service_token_PORT=${TOKEN}x` }],
  ['the cookie of another port', { Cookie: `quorvel_service_token_1=${TOKEN}` }],
];

function withPort(headers, port) {
  return Object.fromEntries(Object.entries(headers).map(([k, v]) => [k, v.replace('PORT', port)]));
}

test('a request without the launch token gets 401, no data, and changes nothing', async (t) => {
  const svc = await startService({ env: { QUORVEL_SERVICE_TOKEN: TOKEN } });
  t.after(() => svc.stop());
  const own = { 'X-Quorvel-Service-Token': TOKEN };
  assert.equal((await svc.request('POST', '/api/watchlist', { json: { symbol: 'sh600519' }, headers: own })).status, 201);
  const before = fs.readFileSync(svc.storeFile, 'utf8');

  for (const [what, headers] of WRONG) {
    for (const [method, urlPath, json] of ROUTES) {
      const res = await svc.request(method, urlPath, { json, headers: withPort(headers, svc.port) });
      assert.equal(res.status, 401, `${method} ${urlPath} with ${what}`);
      assert.deepEqual(Object.keys(res.json), ['error'], `${method} ${urlPath} with ${what}`);
    }
  }
  assert.equal(fs.readFileSync(svc.storeFile, 'utf8'), before);

  for (const [method, urlPath, json] of ROUTES.slice(0, 3)) {
    assert.equal((await svc.request(method, urlPath, { json, headers: own })).status, 200, `${method} ${urlPath}`);
    const cookie = { Cookie: `a=b; quorvel_service_token_${svc.port}=${TOKEN}` };
    assert.equal((await svc.request(method, urlPath, { json, headers: cookie })).status, 200, `${method} ${urlPath}`);
  }
});

test('the page and its files are served without the token', async (t) => {
  const svc = await startService({ env: { QUORVEL_SERVICE_TOKEN: TOKEN } });
  t.after(() => svc.stop());
  const files = fs.readdirSync(path.join(__dirname, '..', 'public')).map((name) => `/${name}`);
  for (const urlPath of ['/', '/?refreshMs=500', ...files]) {
    for (const method of ['GET', 'HEAD']) {
      assert.equal((await svc.request(method, urlPath)).status, 200, `${method} ${urlPath}`);
    }
  }
  // Another method on a page address is not the page.
  assert.equal((await svc.request('POST', '/index.html')).status, 401);
});

test('the login address trades the token for a cookie and goes on to the plain address', async (t) => {
  const svc = await startService({ env: { QUORVEL_SERVICE_TOKEN: TOKEN } });
  t.after(() => svc.stop());

  const login = await svc.get(`/?token=${TOKEN}`);
  assert.equal(login.status, 302);
  assert.equal(login.headers.location, '/');
  assert.equal(login.text, '');
  const [cookie] = login.headers['set-cookie'];
  assert.equal(cookie, `quorvel_service_token_${svc.port}=${TOKEN}; Path=/; HttpOnly; SameSite=Strict`);
  const pair = cookie.split(';')[0];
  assert.equal((await svc.request('GET', '/api/overview', { headers: { Cookie: pair } })).status, 200);

  for (const wrong of [`/?token=${TOKEN}0`, '/?token=', '/?token=x&token=' + TOKEN]) {
    const res = await svc.get(wrong);
    assert.equal(res.status, 401, wrong);
    assert.equal(res.headers['set-cookie'], undefined, wrong);
  }
});

test('started by hand without a token, the service asks for none and says so', async (t) => {
  const svc = await startService();
  t.after(() => svc.stop());
  assert.equal((await svc.get('/api/overview')).status, 200);
  assert.equal((await svc.get('/?token=anything')).status, 200);
  assert.match(svc.output(), /no QUORVEL_SERVICE_TOKEN: every account on this machine may use this service/);
});

// Another user's service may hold the port: the shell then moves to the next
// one, told by this status.
test('a taken port ends the service with status 3', async () => {
  const holder = net.createServer().listen(0, '127.0.0.1');
  await new Promise((resolve) => holder.once('listening', resolve));
  try {
    await assert.rejects(startService({ port: holder.address().port }), /service exited \(3\)/);
  } finally {
    holder.close();
  }
});
