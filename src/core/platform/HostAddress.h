#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// An IPv4 or IPv6 address, read from the text a URL gives as its host. IPv4
// takes the classic spellings too ("127.1", "0x7f.0.0.1", "2130706433"), IPv6
// a scope after '%' ("fe80::1%eth0"), which plays no part in any comparison.
// An IPv6 address that maps an IPv4 one ("::ffff:10.0.0.2") counts as that
// address wherever one is asked for.
class HostAddress {
public:
    // None when the text is not an address (a name, "[::1]" with its brackets).
    static std::optional<HostAddress> parse(const QString& text);
    static HostAddress fromIPv4(std::uint32_t address);
    static HostAddress fromIPv6(const std::array<std::uint8_t, 16>& address);
    // The addresses of this machine's interfaces that are up, IPv4 and IPv6.
    static QList<HostAddress> thisMachine();

    bool isIPv4() const { return !m_v6; }
    // 127.0.0.0/8 (mapped into IPv6 too) and ::1.
    bool isLoopback() const;
    // The IPv4 address this one is: itself, the one an IPv6 address maps, or
    // 0.0.0.0 for "::".
    std::optional<std::uint32_t> toIPv4() const;
    // Whether the first `prefix` bits equal those of `network`, of the same family.
    bool isInSubnet(const HostAddress& network, int prefix) const;
    // The same address, an IPv4 one also in its IPv6 forms: mapped, compatible
    // ("::10.0.0.2"), and "::1" and "::" for 127.0.0.1 and 0.0.0.0.
    bool sameAs(const HostAddress& other) const;

private:
    HostAddress() = default;

    bool m_v6 = false;
    // The IPv4 address, or the one an IPv6 address maps (else 0).
    std::uint32_t m_v4 = 0;
    // Network byte order; an IPv4 address's mapped form.
    std::array<std::uint8_t, 16> m_bytes {};
};
