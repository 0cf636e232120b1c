#pragma once

// Endpoint addressing: how the address and port fields become resolver
// requests, how a multicast group is recognised, and the text of a peer's
// endpoint. No widgets here.
#include <QString>

#include <netdb.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Shown for a resolved address that is neither IPv4 nor IPv6.
inline constexpr char UNKNOWN_FAMILY_TEXT[] = "Unknonw ai_family";

// One getaddrinfo call: node (none = null), service and the hints.
struct ResolverRequest
{
    std::optional<std::string> node;
    std::string service;
    int family = AF_UNSPEC;
    int socktype = 0;
    int protocol = 0;
    int flags = 0;

    bool operator==(const ResolverRequest&) const = default;
};

struct AddrInfoDeleter
{
    void operator()(addrinfo* list) const
    {
        if (list)
            freeaddrinfo(list);
    }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// The requests, by use. The caller takes the first address of the result.
ResolverRequest TcpConnectRequest(const QString& remote, unsigned remotePort);
// The passive address of the TCP server; the family follows the checked
// IPv4/IPv6 button.
ResolverRequest TcpListenRequest(unsigned localPort, bool ipv4Checked, bool ipv6Checked);
// Resolves the remote only to learn its family.
ResolverRequest UdpFamilyRequest(const QString& remote, unsigned localPort);
ResolverRequest UdpLocalIPv6Request(unsigned localPort);
ResolverRequest MulticastLocalRequest(const std::string& hostName, unsigned localPort);
// The group, with the family, type and protocol of the resolved local address.
ResolverRequest MulticastGroupRequest(const QString& remote, unsigned localPort, const addrinfo& local);
ResolverRequest UdpSendRequest(const QString& remote, unsigned remotePort);

// Runs the request; returns 0 on success, else the resolver's code (always
// negative), or the errno value (positive) when the resolver failed on a
// system error.
int Resolve(const ResolverRequest& request, AddrInfoPtr& result);

// White space off both ends: trailing first, then leading.
QString TrimRemoteAddress(const QString& remote);

// Whether an IPv4 remote address names a multicast group (224 to 239). Names
// and 255.255.255.255 are looked up as host names; a failed look-up counts as
// not multicast.
bool IsMulticastRemote(const QString& remote);

// "a.b.c.d : port" or "[IPv6%scope]:port"; nothing for other families.
std::optional<QString> FormatPeerEndpoint(const sockaddr* address);
// The size of the socket address its family names (sockaddr_in,
// sockaddr_in6); 0 for null and for other families.
socklen_t AddressLength(const sockaddr* address);
// Upper-case groups; only the first run of zero groups is compressed.
QString FormatIPv6Address(const std::uint8_t bytes[16]);
