#pragma once

// Opening a session's sockets in the three modes: a TCP client's connect, a
// TCP server's listening socket, a UDP socket (broadcast allowed, a group
// joined when the remote is one). The main window and korvo-cli both open
// their sessions here and tell the user about a failure their own way. No
// widgets here.
#include "platform/async_socket.h"

#include <QString>

#include <functional>

// Called between the socket's making and its connect or listen, e.g. to put
// TLS on it; false stops the opening, and the caller has said why.
using PrepareSocket = std::function<bool(CAsyncSocket& socket)>;

struct SessionOpenOutcome
{
    // An errno value or a resolver code (see SystemErrorText); 0 for none.
    int error = 0;
    // The address resolved to a family that is neither IPv4 nor IPv6.
    bool unknownFamily = false;
    // The caller's preparation refused.
    bool refused = false;
    // The address was found, so the failure was the socket's own.
    bool resolved = false;

    bool Ok() const { return error == 0 && !unknownFamily && !refused; }
};

// Starts a non-blocking connect; OnConnect tells its outcome. On failure the
// socket is closed.
SessionOpenOutcome ConnectTcpSession(CAsyncSocket& socket, const QString& remote, unsigned remotePort,
                                     bool keepAlive, const PrepareSocket& prepare = {});
// A listening socket for one peer at a time, on the family of the checked
// IPv4/IPv6 choice. On failure the socket is closed.
SessionOpenOutcome ListenTcpSession(CAsyncSocket& listener, unsigned localPort, bool ipv4, bool ipv6,
                                    bool keepAlive, const PrepareSocket& prepare = {});
// A datagram socket on the local port; `remote` (may be empty) decides its
// family, and a multicast group there is joined.
SessionOpenOutcome OpenUdpSession(CAsyncSocket& socket, const QString& remote, unsigned localPort);
