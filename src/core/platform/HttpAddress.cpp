#include "core/platform/HttpAddress.h"

namespace HttpAddress {

std::optional<QUrl> join(const QString& base, const QString& path)
{
    const QUrl url(base + path, QUrl::StrictMode);
    // QUrl lower-cases the scheme itself.
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return std::nullopt;
    // A query or fragment in the base swallows what is appended to it:
    // "https://proxy/v1?team=a" + "/models" still asks for /v1.
    if (url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return url;
}

} // namespace HttpAddress
