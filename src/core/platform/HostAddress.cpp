#include "core/platform/HostAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t word(const std::array<std::uint8_t, 16>& bytes, int at)
{
    return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 | std::uint32_t(bytes[at + 2]) << 8
        | std::uint32_t(bytes[at + 3]);
}

bool highHalfZero(const std::array<std::uint8_t, 16>& bytes)
{
    return word(bytes, 0) == 0 && word(bytes, 4) == 0;
}

} // namespace

std::optional<HostAddress> HostAddress::parse(const QString& text)
{
    const QString simple = text.simplified();
    if (simple.isEmpty() || simple.contains(QChar(u'\0')))
        return std::nullopt;
    // Only IPv6 has a ':'; what follows the last '%' is its scope.
    if (simple.contains(QLatin1Char(':'))) {
        const qsizetype scope = simple.lastIndexOf(QLatin1Char('%'));
        // A character past Latin-1 becomes '?', which no address has.
        const QByteArray bytes = (scope < 0 ? simple : simple.left(scope)).toLatin1();
        std::array<std::uint8_t, 16> address {};
        if (::inet_pton(AF_INET6, bytes.constData(), address.data()) == 1)
            return fromIPv6(address);
    }
    // inet_aton takes the classic IPv4 forms, and ignores whatever follows a
    // space: a host has none.
    if (simple.contains(QLatin1Char(' ')))
        return std::nullopt;
    in_addr address {};
    if (::inet_aton(simple.toLatin1().constData(), &address) == 0)
        return std::nullopt;
    return fromIPv4(ntohl(address.s_addr));
}

HostAddress HostAddress::fromIPv4(std::uint32_t address)
{
    HostAddress a;
    a.m_v4 = address;
    if (address != 0) {
        a.m_bytes[10] = a.m_bytes[11] = 0xff;
        for (int i = 0; i < 4; ++i)
            a.m_bytes[12 + i] = std::uint8_t(address >> (24 - 8 * i));
    }
    return a;
}

HostAddress HostAddress::fromIPv6(const std::array<std::uint8_t, 16>& address)
{
    HostAddress a;
    a.m_v6 = true;
    a.m_bytes = address;
    if (highHalfZero(address) && word(address, 8) == 0xffff)
        a.m_v4 = word(address, 12);
    return a;
}

QList<HostAddress> HostAddress::thisMachine()
{
    QList<HostAddress> list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return list;
    for (const ifaddrs* i = all; i; i = i->ifa_next) {
        // An interface that is down has no address to be reached at.
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP))
            continue;
        if (i->ifa_addr->sa_family == AF_INET) {
            list.append(fromIPv4(ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr)));
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            std::array<std::uint8_t, 16> bytes {};
            std::memcpy(bytes.data(), reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr.s6_addr, 16);
            list.append(fromIPv6(bytes));
        }
    }
    ::freeifaddrs(all);
    return list;
}

bool HostAddress::isLoopback() const
{
    if (m_v4 != 0)
        return (m_v4 & 0xff000000U) == 0x7f000000U;
    return m_v6 && highHalfZero(m_bytes) && word(m_bytes, 8) == 0 && word(m_bytes, 12) == 1;
}

std::optional<std::uint32_t> HostAddress::toIPv4() const
{
    if (!m_v6)
        return m_v4;
    if (!highHalfZero(m_bytes))
        return std::nullopt;
    const std::uint32_t mid = word(m_bytes, 8);
    if (mid == 0xffff)
        return word(m_bytes, 12);
    if (mid == 0 && word(m_bytes, 12) == 0)
        return 0;
    return std::nullopt;
}

bool HostAddress::isInSubnet(const HostAddress& network, int prefix) const
{
    if (m_v6 != network.m_v6 || prefix < 0)
        return false;
    if (!m_v6) {
        if (prefix == 0)
            return true;
        const std::uint32_t mask = prefix >= 32 ? 0xffffffffU : ~(0xffffffffU >> prefix);
        return (m_v4 & mask) == (network.m_v4 & mask);
    }
    prefix = std::min(prefix, 128);
    if (std::memcmp(m_bytes.data(), network.m_bytes.data(), prefix / 8) != 0)
        return false;
    if (prefix % 8 == 0)
        return true;
    const std::uint8_t mask = std::uint8_t(0xff << (8 - prefix % 8));
    return (m_bytes[prefix / 8] & mask) == (network.m_bytes[prefix / 8] & mask);
}

bool HostAddress::sameAs(const HostAddress& other) const
{
    if (m_v6 == other.m_v6)
        return m_v6 ? m_bytes == other.m_bytes : m_v4 == other.m_v4;
    const HostAddress& v6 = m_v6 ? *this : other;
    const std::uint32_t v4 = m_v6 ? other.m_v4 : m_v4;
    if (!highHalfZero(v6.m_bytes))
        return false;
    const std::uint32_t mid = word(v6.m_bytes, 8);
    const std::uint32_t low = word(v6.m_bytes, 12);
    if (mid == 0xffff)
        return low == v4;
    if (mid != 0)
        return false;
    // "::1" is 127.0.0.1; "::" is 0.0.0.0, and "::a.b.c.d" is a.b.c.d.
    return (low == 1 ? 0x7f000001U : low) == v4;
}
