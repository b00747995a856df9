#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The one rule for an address the application sends requests to (a model
// provider's base URL, the gateway origin a phone pairs with): an http or https
// URL with a host, read strictly, without a fragment. A path appended to it
// goes at the end of its path.
namespace HttpAddress {

// What becomes of a query in the address.
enum class Query {
    // Refused: others append their paths to the address as text (the
    // phone to the gateway origin), and a query would swallow them.
    Refused,
    // Kept after the appended path: "https://h/p?x=1" + "/models" →
    // "https://h/p/models?x=1" (a deployment's API version).
    KeptAfterPath,
};

// What breaks the rule.
enum class Problem {
    NotHttp, // no scheme, or one other than http and https
    NoHost, // "http://", "https:///v1", "https:host"
    Fragment, // a "#…" part
    HasQuery, // a "?…" part where it is refused
    Malformed, // characters or a port that a URL cannot have
};

// `base` with `path` appended to its path (no separator handling) as a URL;
// none (with the problem) when the result breaks the rule.
std::optional<QUrl> join(const QString& base, const QString& path, Query query, Problem* problem = nullptr);

// Whether two addresses name the same server and path, however written: the
// scheme's and the host's case, a default port spelled out, trailing slashes.
bool sameServer(const QString& a, const QString& b);

// Whether a host (as a URL gives it) names this machine's loopback interface:
// "localhost" and names under it, 127.0.0.0/8, ::1, whatever their spelling.
bool isLoopbackHost(const QString& host);

// Whether a host names a machine on a local network: an address of a private
// network (10/8, 172.16/12, 192.168/16), link-local (169.254/16, fe80::/10),
// carrier-grade NAT (100.64/10) or IPv6 unique-local (fc00::/7), or a
// ".local" name.
bool isLocalNetworkHost(const QString& host);

} // namespace HttpAddress
