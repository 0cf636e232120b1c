#include "net/session_open.h"

#include "net/endpoint.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int KEEPALIVE_TIME_MS = 10000;
constexpr int KEEPALIVE_INTERVAL_MS = 1000;
constexpr int MULTICAST_TTL = 8;

// First probe after 10 s of silence, then one a second. Failures leave the
// system's defaults; nothing is reported.
void SetKeepAlive(int handle)
{
    const int on = 1;
    const int idle = KEEPALIVE_TIME_MS / 1000;
    const int interval = KEEPALIVE_INTERVAL_MS / 1000;
    setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

// A socket made for the IPv6 choice serves IPv6 only, so the IPv4 port stays
// free for another session (the program's first platform behaves so).
void SetIPv6Only(int handle)
{
    const int on = 1;
    setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
}

// Closes a handle not yet given to a socket object, keeping errno.
int CloseHandleKeepError(int handle)
{
    const int error = errno;
    ::close(handle);
    return error;
}

SessionOpenOutcome Failed(int error, bool resolved)
{
    SessionOpenOutcome outcome;
    outcome.error = error;
    outcome.resolved = resolved;
    return outcome;
}

SessionOpenOutcome UnknownFamily()
{
    SessionOpenOutcome outcome;
    outcome.unknownFamily = true;
    return outcome;
}

SessionOpenOutcome Refused()
{
    SessionOpenOutcome outcome;
    outcome.refused = true;
    outcome.resolved = true;
    return outcome;
}

SessionOpenOutcome Opened()
{
    SessionOpenOutcome outcome;
    outcome.resolved = true;
    return outcome;
}

SessionOpenOutcome OpenUdpIPv4(CAsyncSocket& socket, const QString& remote, unsigned localPort)
{
    if (!IsMulticastRemote(remote)) {
        if (!socket.Create(localPort, SOCK_DGRAM))
            return Failed(errno, true);
        const int on = 1;
        if (setsockopt(socket.m_hSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            const int error = errno;
            socket.Close();
            return Failed(error, true);
        }
        return Opened();
    }

    char hostName[512] = {};
    if (gethostname(hostName, sizeof hostName - 1) != 0)
        return Failed(errno, true);
    AddrInfoPtr local;
    if (const int code = Resolve(MulticastLocalRequest(hostName, localPort), local))
        return Failed(code, true);
    const int handle = ::socket(local->ai_family, local->ai_socktype | SOCK_CLOEXEC, local->ai_protocol);
    if (handle < 0)
        return Failed(errno, true);
    // Bound to the local port on all addresses, so that datagrams sent to the
    // group on that port arrive here.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<uint16_t>(localPort));
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 || !socket.Attach(handle))
        return Failed(CloseHandleKeepError(handle), true);

    AddrInfoPtr group;
    if (const int code = Resolve(MulticastGroupRequest(remote, localPort, *local), group)) {
        socket.Close();
        return Failed(code, true);
    }
    const int ttl = MULTICAST_TTL;
    const int loop = 0; // our own datagrams do not come back to us
    ip_mreq membership{};
    membership.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group->ai_addr)->sin_addr;
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    if (setsockopt(socket.m_hSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        setsockopt(socket.m_hSocket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
        setsockopt(socket.m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        const int error = errno;
        socket.Close();
        return Failed(error, true);
    }
    return Opened();
}

} // namespace

SessionOpenOutcome ConnectTcpSession(CAsyncSocket& socket, const QString& remote, unsigned remotePort,
                                     bool keepAlive, const PrepareSocket& prepare)
{
    AddrInfoPtr resolved;
    if (const int code = Resolve(TcpConnectRequest(remote, remotePort), resolved))
        return Failed(code, false);
    const addrinfo& address = *resolved;
    int createError = 0;
    if (address.ai_family == AF_INET) {
        // A failure here shows up as the connect's error below, with its own
        // code rather than the connect's on no socket.
        if (!socket.Create(0, SOCK_STREAM))
            createError = errno;
    } else if (address.ai_family == AF_INET6) {
        const int handle = ::socket(AF_INET6, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
        if (handle < 0)
            return Failed(errno, true);
        if (!socket.Attach(handle))
            return Failed(CloseHandleKeepError(handle), true);
    } else {
        return UnknownFamily();
    }

    if (keepAlive)
        SetKeepAlive(socket.m_hSocket);

    if (prepare && !prepare(socket)) {
        socket.Close();
        return Refused();
    }

    const socklen_t length = address.ai_family == AF_INET ? sizeof(sockaddr_in) : address.ai_addrlen;
    if (!socket.Connect(address.ai_addr, length)) {
        const int error = createError != 0 ? createError : errno;
        if (error != CAsyncSocket::SOCK_WOULDBLOCK) {
            socket.Close();
            return Failed(error, true);
        }
    }
    return Opened();
}

SessionOpenOutcome ListenTcpSession(CAsyncSocket& listener, unsigned localPort, bool ipv4, bool ipv6,
                                    bool keepAlive, const PrepareSocket& prepare)
{
    AddrInfoPtr resolved;
    if (const int code = Resolve(TcpListenRequest(localPort, ipv4, ipv6), resolved))
        return Failed(code, false);
    // The passive requests of both families yield one address.
    const addrinfo& address = *resolved;
    if (address.ai_family == AF_INET) {
        if (!listener.Create(localPort, SOCK_STREAM)) {
            const int error = errno;
            listener.Close();
            return Failed(error, true);
        }
    } else if (address.ai_family == AF_INET6) {
        const int handle = ::socket(AF_INET6, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
        if (handle < 0)
            return Failed(errno, true);
        const int on = 1;
        setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        SetIPv6Only(handle);
        if (::bind(handle, address.ai_addr, address.ai_addrlen) != 0 || !listener.Attach(handle))
            return Failed(CloseHandleKeepError(handle), true);
    } else {
        return UnknownFamily();
    }

    if (keepAlive)
        SetKeepAlive(listener.m_hSocket);

    if (prepare && !prepare(listener)) {
        listener.Close();
        return Refused();
    }

    if (::listen(listener.m_hSocket, 1) != 0) {
        const int error = errno;
        listener.Close();
        return Failed(error, true);
    }
    return Opened();
}

SessionOpenOutcome OpenUdpSession(CAsyncSocket& socket, const QString& remote, unsigned localPort)
{
    // No remote address: a plain IPv4 socket on the local port. Resolving the
    // empty name would give this machine's first address, ::1 here, and an
    // IPv6-only socket that never hears IPv4 datagrams.
    if (remote.isEmpty())
        return OpenUdpIPv4(socket, remote, localPort);

    // The remote is resolved only to learn its family; the send path resolves
    // it again for every datagram.
    AddrInfoPtr resolved;
    if (const int code = Resolve(UdpFamilyRequest(remote, localPort), resolved))
        return Failed(code, false);
    if (resolved->ai_family == AF_INET)
        return OpenUdpIPv4(socket, remote, localPort);
    if (resolved->ai_family != AF_INET6)
        return UnknownFamily();

    AddrInfoPtr local;
    if (const int code = Resolve(UdpLocalIPv6Request(localPort), local))
        return Failed(code, true);
    const int handle = ::socket(local->ai_family, local->ai_socktype | SOCK_CLOEXEC, local->ai_protocol);
    if (handle < 0)
        return Failed(errno, true);
    SetIPv6Only(handle);
    if (::bind(handle, local->ai_addr, local->ai_addrlen) != 0 || !socket.Attach(handle))
        return Failed(CloseHandleKeepError(handle), true);
    return Opened();
}
