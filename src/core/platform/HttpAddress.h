#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The one rule for an address the application sends requests to (a model
// provider's base URL, the gateway origin a phone pairs with): an http or https
// URL with a host, read strictly, that ends at its path, so that a path
// appended to it stays part of the path.
namespace HttpAddress {

// `base` followed directly by `path` (no separator handling) as a URL; none
// when the result breaks the rule.
std::optional<QUrl> join(const QString& base, const QString& path = QString());

} // namespace HttpAddress
