'use strict';

// The desktop client's rules for the body of the pending list, as it
// decodes it: one faulty record and it takes none of them. Returns the
// records, or throws saying what the client would refuse.

const assert = require('node:assert/strict');

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

function checkText(value, what) {
  assert.equal(typeof value, 'string', `${what} must be a string`);
  // The client's JSON parser refuses an escaped lone surrogate.
  assert.ok(!LONE_SURROGATE.test(value), `${what} holds a lone surrogate`);
}

function decodePending(body) {
  assert.ok(!body.includes('\0'), 'a raw NUL byte');
  const root = JSON.parse(body);
  assert.ok(root !== null && typeof root === 'object' && !Array.isArray(root), 'top level must be an object');
  assert.ok(Array.isArray(root.notifications), '"notifications" must be an array');
  return root.notifications.map((n, i) => {
    assert.ok(n !== null && typeof n === 'object' && !Array.isArray(n), `element ${i} must be an object`);
    for (const key of ['id', 'messageTitle', 'messageBody']) checkText(n[key], `element ${i} ${key}`);
    for (const key of ['sourceType', 'sourceId']) {
      if (n[key] !== undefined && n[key] !== null) checkText(n[key], `element ${i} ${key}`);
    }
    return n;
  });
}

module.exports = { decodePending };
