'use strict';

// A failure that the API reports to its caller with a status and a message.
class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

const MAX_BODY_BYTES = 16 * 1024;
// Bodies up to this size are read to the end (and then refused) so the
// client gets its answer; beyond it the connection is dropped.
const MAX_DRAIN_BYTES = 4 * 1024 * 1024;

const COMMON_HEADERS = {
  'Cache-Control': 'no-store',
  'X-Content-Type-Options': 'nosniff',
};

// The desktop shell launches the service with a secret of its own in
// QUORVEL_SERVICE_PROOF and takes only answers that carry it back in this
// header as coming from its service. It opens nothing: the token that
// requests must carry is another value.
const SERVICE_PROOF_HEADER = 'X-Quorvel-Service-Proof';

// Node answers a request it cannot parse (or one that takes too long) by
// itself, with no headers at all. This is that answer with the proof added,
// so that every answer of the service carries it.
function answerClientError(err, socket, proof) {
  if (err.code !== 'ECONNRESET' && socket.writable && socket.bytesWritten === 0) {
    const [status, reason] = {
      HPE_HEADER_OVERFLOW: [431, 'Request Header Fields Too Large'],
      HPE_CHUNK_EXTENSIONS_OVERFLOW: [413, 'Payload Too Large'],
      ERR_HTTP_REQUEST_TIMEOUT: [408, 'Request Timeout'],
    }[err.code] || [400, 'Bad Request'];
    socket.write(`HTTP/1.1 ${status} ${reason}\r\nConnection: close\r\n${SERVICE_PROOF_HEADER}: ${proof}\r\n\r\n`);
  }
  socket.destroy();
}

function sendJson(res, status, value) {
  const body = Buffer.from(JSON.stringify(value));
  res.writeHead(status, {
    ...COMMON_HEADERS,
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': body.length,
  });
  res.end(body);
}

function sendEmpty(res, status = 204) {
  res.writeHead(status, COMMON_HEADERS);
  res.end();
}

function sendError(res, status, message) {
  sendJson(res, status, { error: message });
}

// Reads the request body. Resolves with undefined for an empty body and with
// the parsed value for a JSON body; rejects with ApiError 400 for a body that
// is too large or not JSON. The content type is not consulted: the desktop
// client sends its empty POSTs without one.
function readJsonBody(req) {
  return new Promise((resolve, reject) => {
    const declared = Number(req.headers['content-length']);
    if (declared > MAX_DRAIN_BYTES) {
      // Not worth reading: answer at once and close the connection after it.
      const err = new ApiError(400, '请求内容过大');
      err.closeConnection = true;
      reject(err);
      return;
    }
    const chunks = [];
    let size = 0;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (size > MAX_DRAIN_BYTES) req.destroy();
      else if (size <= MAX_BODY_BYTES) chunks.push(chunk);
    });
    req.on('error', () => reject(new ApiError(400, '请求内容不完整')));
    req.on('close', () => reject(new ApiError(400, '请求内容不完整')));
    req.on('end', () => {
      if (size > MAX_BODY_BYTES) return reject(new ApiError(400, '请求内容过大'));
      const text = Buffer.concat(chunks).toString('utf8');
      if (text.trim() === '') return resolve(undefined);
      try {
        resolve(JSON.parse(text));
      } catch {
        reject(new ApiError(400, '请求内容不是有效的 JSON'));
      }
    });
  });
}

// For endpoints that take an object: an empty body counts as {}.
async function readJsonObject(req) {
  const body = await readJsonBody(req);
  if (body === undefined) return {};
  if (body === null || typeof body !== 'object' || Array.isArray(body)) {
    throw new ApiError(400, '请求内容必须是 JSON 对象');
  }
  return body;
}

module.exports = {
  ApiError, sendJson, sendEmpty, sendError, readJsonBody, readJsonObject,
  COMMON_HEADERS, MAX_BODY_BYTES, SERVICE_PROOF_HEADER, answerClientError,
};
