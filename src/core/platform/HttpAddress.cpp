#include "core/platform/HttpAddress.h"

#include "core/platform/HostAddress.h"

#include <algorithm>

namespace HttpAddress {

std::optional<QUrl> join(const QString& base, const QString& path, Query query, Problem* problem)
{
    const auto refuse = [problem](Problem why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    // QUrl lower-cases the scheme itself, and names it even when the rest is invalid.
    const QString scheme = QUrl(base, QUrl::StrictMode).scheme();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return refuse(Problem::NotHttp);
    // A fragment never reaches the server.
    if (base.contains(QLatin1Char('#')))
        return refuse(Problem::Fragment);
    // The path ends where the query begins (a '?' cannot stand earlier in a URL).
    const qsizetype at = base.indexOf(QLatin1Char('?'));
    if (at >= 0 && query == Query::Refused)
        return refuse(Problem::HasQuery);
    const QString joined = at < 0 ? base + path : base.left(at) + path + base.mid(at);
    const QUrl url(joined, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(Problem::Malformed);
    if (url.host().isEmpty())
        return refuse(Problem::NoHost);
    return url;
}

bool sameServer(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const QUrl ua(a.trimmed(), QUrl::StrictMode);
    const QUrl ub(b.trimmed(), QUrl::StrictMode);
    if (!ua.isValid() || !ub.isValid() || ua.host().isEmpty())
        return false;
    const auto port = [](const QUrl& u) { return u.port(u.scheme() == QLatin1String("https") ? 443 : 80); };
    const auto path = [](const QUrl& u) {
        QString p = u.path();
        while (p.endsWith(QLatin1Char('/')))
            p.chop(1);
        return p;
    };
    // QUrl lower-cases the scheme and the host itself.
    return ua.scheme() == ub.scheme() && ua.host() == ub.host() && port(ua) == port(ub) && path(ua) == path(ub)
        && ua.query() == ub.query();
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const std::optional<HostAddress> address = HostAddress::parse(host);
    return address && address->isLoopback();
}

bool isLocalNetworkHost(const QString& host)
{
    if (host.endsWith(QLatin1String(".local"), Qt::CaseInsensitive))
        return true;
    std::optional<HostAddress> address = HostAddress::parse(host);
    if (!address)
        return false;
    // An IPv4 address written as IPv6 ("::ffff:10.0.0.2") is that address.
    if (const std::optional<std::uint32_t> ipv4 = address->toIPv4())
        address = HostAddress::fromIPv4(*ipv4);
    static const QList<std::pair<HostAddress, int>> ranges = [] {
        const std::pair<const char*, int> networks[] = { { "10.0.0.0", 8 }, { "172.16.0.0", 12 }, { "192.168.0.0", 16 },
            { "169.254.0.0", 16 }, { "100.64.0.0", 10 }, { "fc00::", 7 }, { "fe80::", 10 } };
        QList<std::pair<HostAddress, int>> list;
        for (const auto& [network, prefix] : networks)
            list.append({ *HostAddress::parse(QLatin1String(network)), prefix });
        return list;
    }();
    return std::any_of(
        ranges.cbegin(), ranges.cend(), [&](const auto& r) { return address->isInSubnet(r.first, r.second); });
}

} // namespace HttpAddress
