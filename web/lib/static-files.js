'use strict';

const fs = require('fs');
const path = require('path');
const { COMMON_HEADERS } = require('./http');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
};

// The page's own scripts and styles only; nothing from elsewhere.
const PAGE_POLICY = "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; frame-ancestors 'none'";

// Loads the page's files once, at start-up, so that the service answers the
// page as soon as it listens. Only files directly in the folder are served.
function loadStaticFiles(dir) {
  const files = new Map();
  for (const name of fs.readdirSync(dir)) {
    const type = TYPES[path.extname(name)];
    if (!type) continue;
    files.set(`/${name}`, { type, body: fs.readFileSync(path.join(dir, name)) });
  }
  if (!files.has('/index.html')) throw new Error(`index.html is missing from ${dir}`);
  files.set('/', files.get('/index.html'));
  return files;
}

function sendStatic(req, res, file) {
  res.writeHead(200, {
    ...COMMON_HEADERS,
    'Cache-Control': 'no-cache',
    'Content-Type': file.type,
    'Content-Length': file.body.length,
    'Content-Security-Policy': PAGE_POLICY,
  });
  res.end(req.method === 'HEAD' ? undefined : file.body);
}

module.exports = { loadStaticFiles, sendStatic };
