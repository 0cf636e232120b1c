#include "net/endpoint.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

QString IPv6Text(const char* address)
{
    in6_addr bytes{};
    EXPECT_EQ(1, inet_pton(AF_INET6, address, &bytes)) << address;
    return FormatIPv6Address(bytes.s6_addr);
}

TEST(Endpoint, IPv6AddressText)
{
    const struct
    {
        const char* address;
        const char* text;
    } cases[] = {
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"fe80::1234:5678:9abc:def0", "FE80::1234:5678:9ABC:DEF0"},
        // Only the first run is compressed, even when a later one is longer.
        {"2001:db8:0:1:0:0:0:1", "2001:DB8::1:0:0:0:1"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
        {"1:0:2:3:4:5:6:7", "1::2:3:4:5:6:7"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:0", "FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF::"},
        {"::ffff:127.0.0.1", "::FFFF:7F00:1"},
        {"0abc:00de:f:0:0:0:0:1", "ABC:DE:F::1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QString::fromLatin1(c.text), IPv6Text(c.address)) << c.address;
}

TEST(Endpoint, PeerEndpointText)
{
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    const struct
    {
        const char* address;
        unsigned short port;
        const char* text;
    } v4Cases[] = {
        {"10.1.0.2", 1470, "10.1.0.2 : 1470"},
        {"192.168.0.7", 50000, "192.168.0.7 : 50000"},
        {"255.255.255.255", 65535, "255.255.255.255 : 65535"},
        {"0.0.0.0", 1, "0.0.0.0 : 1"},
    };
    for (const auto& c : v4Cases) {
        inet_pton(AF_INET, c.address, &v4.sin_addr);
        v4.sin_port = htons(c.port);
        EXPECT_EQ(std::optional(QString::fromLatin1(c.text)),
                  FormatPeerEndpoint(reinterpret_cast<sockaddr*>(&v4)));
    }

    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    const struct
    {
        const char* address;
        unsigned scope;
        unsigned short port;
        const char* text;
    } v6Cases[] = {
        {"fe80::1", 4, 1470, "[FE80::1%4]:1470"},
        {"::1", 0, 50000, "[::1%0]:50000"},
        {"2001:db8::7", 0, 8080, "[2001:DB8::7%0]:8080"},
    };
    for (const auto& c : v6Cases) {
        inet_pton(AF_INET6, c.address, &v6.sin6_addr);
        v6.sin6_scope_id = c.scope;
        v6.sin6_port = htons(c.port);
        EXPECT_EQ(std::optional(QString::fromLatin1(c.text)),
                  FormatPeerEndpoint(reinterpret_cast<sockaddr*>(&v6)));
    }

    sockaddr other{};
    other.sa_family = AF_UNIX;
    EXPECT_EQ(std::nullopt, FormatPeerEndpoint(&other));
}

TEST(Endpoint, ResolverRequests)
{
    addrinfo local{};
    local.ai_family = AF_INET;
    local.ai_socktype = SOCK_DGRAM;
    local.ai_protocol = IPPROTO_UDP;
    using Node = std::optional<std::string>;
    const QString remote = QStringLiteral("example.invalid");
    const struct
    {
        const char* use;
        ResolverRequest actual;
        ResolverRequest expected;
    } cases[] = {
        {"tcp connect",
         TcpConnectRequest(remote, 1470),
         {Node("example.invalid"), "1470", AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP, 0}},
        {"listen ipv4",
         TcpListenRequest(1471, true, false),
         {std::nullopt, "1471", AF_INET, SOCK_STREAM, 0, AI_PASSIVE | AI_NUMERICHOST}},
        {"listen ipv6",
         TcpListenRequest(1471, false, true),
         {std::nullopt, "1471", AF_INET6, SOCK_STREAM, 0, 5}},
        {"listen neither",
         TcpListenRequest(65535, false, false),
         {std::nullopt, "65535", AF_UNSPEC, SOCK_STREAM, 0, 5}},
        {"udp family",
         UdpFamilyRequest(remote, 7),
         {Node("example.invalid"), "7", AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, 0}},
        {"udp ipv6 local", UdpLocalIPv6Request(1), {std::nullopt, "1", AF_INET6, SOCK_DGRAM, 0, 5}},
        {"multicast local",
         MulticastLocalRequest("vm", 1470),
         {Node("vm"), "1470", AF_INET, SOCK_DGRAM, IPPROTO_UDP, AI_PASSIVE}},
        {"multicast group",
         MulticastGroupRequest(QStringLiteral("239.1.1.1"), 1470, local),
         {Node("239.1.1.1"), "1470", AF_INET, SOCK_DGRAM, IPPROTO_UDP, 0}},
        {"udp send",
         UdpSendRequest(remote, 9),
         {Node("example.invalid"), "9", AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, 0}},
        // An empty address stands for this machine.
        {"tcp connect, empty",
         TcpConnectRequest(QString(), 1470),
         {std::nullopt, "1470", AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP, 0}},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(c.actual == c.expected) << c.use;
}

TEST(Endpoint, ResolveReportsResolverAndFamily)
{
    AddrInfoPtr result;
    EXPECT_EQ(0, Resolve(TcpConnectRequest(QStringLiteral("127.0.0.1"), 1470), result));
    ASSERT_TRUE(result);
    EXPECT_EQ(AF_INET, result->ai_family);
    EXPECT_EQ(1470, ntohs(reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_port));

    EXPECT_EQ(0, Resolve(TcpListenRequest(1470, false, true), result));
    ASSERT_TRUE(result);
    EXPECT_EQ(AF_INET6, result->ai_family);
    EXPECT_TRUE(IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<sockaddr_in6*>(result->ai_addr)->sin6_addr));

    // Fails in the resolver itself, without asking a name server.
    const int code = Resolve(TcpConnectRequest(QStringLiteral("::1%nosuchif"), 1470), result);
    EXPECT_LT(code, 0);
    EXPECT_FALSE(result);
}

TEST(Endpoint, TrimsRemoteAddress)
{
    const struct
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"  10.1.0.1  ", "10.1.0.1"},
        {"\t\r\n10.1.0.1\v\f", "10.1.0.1"},
        {"10.1.0.1", "10.1.0.1"},
        {"   ", ""},
        {"", ""},
        {" host name ", "host name"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QString::fromLatin1(c.out), TrimRemoteAddress(QString::fromLatin1(c.in))) << c.in;
}

TEST(Endpoint, MulticastTest)
{
    const struct
    {
        const char* remote;
        bool multicast;
    } cases[] = {
        {"224.0.0.0", true},
        {"239.255.255.255", true},
        {"239.1.1.1", true},
        {"223.255.255.255", false},
        {"240.0.0.1", false},
        {"10.1.0.1", false},
        {"127.0.0.1", false},
        {"255.255.255.255", false},
        {"", false},
        {"localhost", false},
        {"::1%nosuchif", false}, // a failed lookup is not multicast
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.multicast, IsMulticastRemote(QString::fromLatin1(c.remote))) << c.remote;
}

} // namespace
