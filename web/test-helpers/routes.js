'use strict';

// Every route of the service's API, with a body it would accept: for the
// tests that every one of them is refused without the launch token.
const API_ROUTES = [
  ['GET', '/api/status'],
  ['GET', '/api/overview'],
  ['GET', '/api/watchlist'],
  ['POST', '/api/watchlist', { symbol: 'sz000001' }],
  ['DELETE', '/api/watchlist/sh600519'],
  ['GET', '/api/rules'],
  ['POST', '/api/rules', { symbol: 'sh600519', direction: 'above', price: 1 }],
  ['DELETE', '/api/rules/r-1'],
  ['GET', '/api/alerts'],
  ['POST', '/api/quotes/sync'],
  ['POST', '/api/page-loaded', { loadMs: 5 }],
  ['POST', '/api/desktop-notifications/initialize'],
  ['GET', '/api/desktop-notifications/pending'],
  ['POST', '/api/desktop-notifications/n-1/mark-notified'],
];

module.exports = { API_ROUTES };
