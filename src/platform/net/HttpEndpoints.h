#pragma once

#include <QUrl>

namespace fernhollow::HttpEndpoints {

// The scheme and host of an external service: `defaultBase`, or the value of the
// environment variable `overrideVariable` where tests point it at a local server. An
// override is honoured for https, and for plain http only on a loopback host; any other
// override yields an empty URL, so the request is never sent in the clear elsewhere.
QUrl baseUrl(const char* overrideVariable, const char* defaultBase);

// Whether a request may go to `url`: https anywhere, plain http only to a loopback host,
// where tests run their servers.
bool isAllowed(const QUrl& url);

// The transfer time-out in milliseconds: `defaultMs`, or FERNHOLLOW_HTTP_TIMEOUT_MS when
// tests set it. Read at every request.
int timeoutMs(int defaultMs);

} // namespace fernhollow::HttpEndpoints
