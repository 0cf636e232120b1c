#include "net/endpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>

#include <cstring>

namespace {

std::string Service(unsigned port)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(port));
    return text;
}

// An empty address stands for this machine, as the resolver of the program's
// first platform had it; ours would refuse an empty name.
std::optional<std::string> Node(const QString& address)
{
    if (address.isEmpty())
        return std::nullopt;
    return address.toStdString();
}

bool IsSpace(QChar c)
{
    switch (c.unicode()) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return true;
    default:
        return false;
    }
}

} // namespace

ResolverRequest TcpConnectRequest(const QString& remote, unsigned remotePort)
{
    return {Node(remote), Service(remotePort), AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP, 0};
}

ResolverRequest TcpListenRequest(unsigned localPort, bool ipv4Checked, bool ipv6Checked)
{
    const int family = ipv4Checked ? AF_INET : ipv6Checked ? AF_INET6 : AF_UNSPEC;
    return {std::nullopt, Service(localPort), family, SOCK_STREAM, 0, AI_PASSIVE | AI_NUMERICHOST};
}

ResolverRequest UdpFamilyRequest(const QString& remote, unsigned localPort)
{
    return {Node(remote), Service(localPort), AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, 0};
}

ResolverRequest UdpLocalIPv6Request(unsigned localPort)
{
    return {std::nullopt, Service(localPort), AF_INET6, SOCK_DGRAM, 0, AI_PASSIVE | AI_NUMERICHOST};
}

ResolverRequest MulticastLocalRequest(const std::string& hostName, unsigned localPort)
{
    return {hostName, Service(localPort), AF_INET, SOCK_DGRAM, IPPROTO_UDP, AI_PASSIVE};
}

ResolverRequest MulticastGroupRequest(const QString& remote, unsigned localPort, const addrinfo& local)
{
    return {Node(remote), Service(localPort), local.ai_family, local.ai_socktype, local.ai_protocol, 0};
}

ResolverRequest UdpSendRequest(const QString& remote, unsigned remotePort)
{
    return {Node(remote), Service(remotePort), AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, 0};
}

int Resolve(const ResolverRequest& request, AddrInfoPtr& result)
{
    addrinfo hints{};
    hints.ai_flags = request.flags;
    hints.ai_family = request.family;
    hints.ai_socktype = request.socktype;
    hints.ai_protocol = request.protocol;
    addrinfo* list = nullptr;
    const int code =
        getaddrinfo(request.node ? request.node->c_str() : nullptr, request.service.c_str(), &hints, &list);
    if (code != 0) {
        result.reset();
        if (code == EAI_SYSTEM && errno > 0)
            return errno;
        return code;
    }
    result.reset(list);
    return 0;
}

QString TrimRemoteAddress(const QString& remote)
{
    qsizetype end = remote.size();
    while (end > 0 && IsSpace(remote[end - 1]))
        --end;
    qsizetype begin = 0;
    while (begin < end && IsSpace(remote[begin]))
        ++begin;
    return remote.mid(begin, end - begin);
}

bool IsMulticastRemote(const QString& remote)
{
    if (remote.isEmpty())
        return false;
    const std::string text = remote.toStdString();
    in_addr_t address = inet_addr(text.c_str());
    if (address == INADDR_NONE) {
        const hostent* host = gethostbyname(text.c_str());
        if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list[0])
            std::memcpy(&address, host->h_addr_list[0], sizeof address);
        else
            address = INADDR_NONE;
    }
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&address);
    return (octets[0] & 0xF0) == 0xE0;
}

std::optional<QString> FormatPeerEndpoint(const sockaddr* address)
{
    char text[128];
    if (address->sa_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, address, sizeof in);
        const auto* octets = reinterpret_cast<const std::uint8_t*>(&in.sin_addr);
        std::snprintf(text, sizeof text, "%d.%d.%d.%d : %d", octets[0], octets[1], octets[2], octets[3],
                      ntohs(in.sin_port));
        return QString::fromLatin1(text);
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, address, sizeof in6);
        const QByteArray host = FormatIPv6Address(in6.sin6_addr.s6_addr).toLatin1();
        std::snprintf(text, sizeof text, "[%s%%%d]:%d", host.constData(), static_cast<int>(in6.sin6_scope_id),
                      ntohs(in6.sin6_port));
        return QString::fromLatin1(text);
    }
    return std::nullopt;
}

socklen_t AddressLength(const sockaddr* address)
{
    if (address && address->sa_family == AF_INET)
        return sizeof(sockaddr_in);
    if (address && address->sa_family == AF_INET6)
        return sizeof(sockaddr_in6);
    return 0;
}

QString FormatIPv6Address(const std::uint8_t bytes[16])
{
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = (unsigned(bytes[2 * i]) << 8) | bytes[2 * i + 1];

    int runBegin = 0;
    while (runBegin < 8 && groups[runBegin] != 0)
        ++runBegin;
    int runEnd = runBegin;
    while (runEnd < 8 && groups[runEnd] == 0)
        ++runEnd;

    const auto join = [&](int from, int to) {
        QString out;
        for (int i = from; i < to; ++i) {
            if (i > from)
                out += QLatin1Char(':');
            out += QString::number(groups[i], 16).toUpper();
        }
        return out;
    };
    if (runBegin == 8)
        return join(0, 8);
    return join(0, runBegin) + QStringLiteral("::") + join(runEnd, 8);
}
