#include "platform/net/HttpEndpoints.h"

#include <cstdlib>

namespace fernhollow::HttpEndpoints {
namespace {

bool isLoopback(const QString& host) {
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") ||
           host == QLatin1String("::1");
}

} // namespace

QUrl baseUrl(const char* overrideVariable, const char* defaultBase) {
    const char* override = std::getenv(overrideVariable);
    if (override == nullptr || *override == '\0') {
        return QUrl(QString::fromLatin1(defaultBase));
    }
    const QUrl url(QString::fromUtf8(override));
    return isAllowed(url) ? url : QUrl();
}

bool isAllowed(const QUrl& url) {
    const bool allowed = url.scheme() == QLatin1String("https") ||
                         (url.scheme() == QLatin1String("http") && isLoopback(url.host()));
    return url.isValid() && allowed;
}

int timeoutMs(int defaultMs) {
    const char* override = std::getenv("FERNHOLLOW_HTTP_TIMEOUT_MS");
    if (override == nullptr) {
        return defaultMs;
    }
    char* end = nullptr;
    const long value = std::strtol(override, &end, 10);
    return end != override && *end == '\0' && value > 0 && value <= defaultMs ? static_cast<int>(value)
                                                                              : defaultMs;
}

} // namespace fernhollow::HttpEndpoints
