'use strict';

const crypto = require('crypto');
const { ApiError } = require('./http');

// Who may use the service. It listens on loopback, which every account of
// the machine reaches, so when the desktop shell starts it with a launch
// token (QUORVEL_SERVICE_TOKEN) every request but those of the page and its
// static files must carry that token: the shell's own requests in the
// header below, the page's (in the shell's window, or in a browser that
// opened the login address) in a cookie.
const TOKEN_HEADER = 'x-quorvel-service-token';

// Cookies are not told apart by port, so the name carries it: two services
// of one browser's user on two ports keep their own.
function cookieName(port) {
  return `quorvel_service_token_${port}`;
}

function cookieValue(req, name) {
  const header = req.headers.cookie;
  if (typeof header !== 'string') return undefined;
  for (const part of header.split(';')) {
    const eq = part.indexOf('=');
    if (eq !== -1 && part.slice(0, eq).trim() === name) return part.slice(eq + 1).trim();
  }
  return undefined;
}

// Compares the digests, which have the same length whatever was sent, in
// constant time: how long a refusal takes says nothing about the token.
function sameToken(given, expected) {
  if (typeof given !== 'string') return false;
  const digest = (text) => crypto.createHash('sha256').update(text, 'utf8').digest();
  return crypto.timingSafeEqual(digest(given), digest(expected));
}

function createAccess(token, getPort) {
  function allows(req) {
    if (!token) return true;
    return sameToken(req.headers[TOKEN_HEADER], token) || sameToken(cookieValue(req, cookieName(getPort())), token);
  }

  function require(req) {
    if (!allows(req)) throw new ApiError(401, '需要本服务的访问口令');
  }

  // The login address "/?token=...": a right token becomes the cookie and
  // the browser goes on to the plain address, so that the token stays out
  // of its history and of the page's address. True when it answered.
  function answerLogin(req, res, query) {
    if (!token || query === null || req.method !== 'GET') return false;
    const given = new URLSearchParams(query).get('token');
    if (given === null) return false;
    if (!sameToken(given, token)) throw new ApiError(401, '访问口令不正确');
    res.writeHead(302, {
      'Cache-Control': 'no-store',
      'Set-Cookie': `${cookieName(getPort())}=${token}; Path=/; HttpOnly; SameSite=Strict`,
      Location: '/',
    });
    res.end();
    return true;
  }

  return { allows, require, answerLogin };
}

module.exports = { createAccess, cookieName, sameToken, TOKEN_HEADER };
