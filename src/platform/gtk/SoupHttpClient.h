#pragma once

#include "platform/HttpClient.h"

#include <memory>

namespace quorvel::gtk {

// The process-wide HTTP client on one libsoup session: redirects followed,
// no cache, no cookies kept, an I/O time-out of `ioTimeoutSeconds` (whole
// seconds, at least one). Create, use and destroy it on the main thread.
// Every request starts and every completion runs on the GLib main loop
// (default context), never inside send().
// Destroying the client cancels the requests in flight and releases their
// completions without running them. dropConnections() (main thread) fails
// them instead, each completion running before it returns, and closes every
// connection the session keeps.
//
// A result has every header field of the final response (repeated fields
// as they came), names as sent except that libsoup spells the names of the
// fields it knows its own way; the fields it knows come first.
//
// The session's time-out ends a request that waits that long for the network
// (connecting, or waiting for the response); a request whose timeoutSeconds
// differs from the session's also gets a deadline of its own for the whole
// exchange. The client has no cache, so both cache policies fetch from the
// network alike.
std::unique_ptr<HttpClient> makeSoupHttpClient(double ioTimeoutSeconds = 60);

} // namespace quorvel::gtk
