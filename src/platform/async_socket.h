#pragma once

// CAsyncSocket: a non-blocking socket that reports readiness as events on the
// GUI thread, through QSocketNotifier.
//
// Error codes: every code is an errno value, 0 means success. An operation
// that fails returns false (or -1) and leaves its code in errno; the caller
// reads it at once. A connect that is under way and a full send buffer both
// report SOCK_WOULDBLOCK, so callers test one code for both; a connect that
// fails with EAGAIN is reported as EADDRNOTAVAIL, never as under way.
//
// Events, each with the error code of the event:
// - OnReceive: data (or a datagram) is waiting. One event per read: the next
//   one comes only after Receive/ReceiveFrom was called, and then only while
//   data remains. While it does, the next event follows at once, without a
//   turn of the event loop in between, for a bounded run (kReceiveRunEvents
//   events or kReceiveRunTime, whichever ends first); then the loop gets its
//   turn, so painting, input, timers and other sockets go on during a flood.
//   A handler that does not read ends the run.
// - OnSend: once when a connection or a datagram socket first becomes
//   writable, then only after a Send/SendTo failed with SOCK_WOULDBLOCK and
//   space came back.
// - OnConnect: once per non-blocking Connect, with its outcome.
// - OnAccept: a connection is pending on a listening socket; the next event
//   comes after Accept was called. When Accept fails for lack of descriptors
//   or memory the next event waits kAcceptBackoff, since the connection that
//   could not be taken is still pending.
// - OnClose: once, after the pending data was read, when the peer closed or
//   reset the connection. No events follow it.
//
// TLS (UseTls) is a layer inside: a client's OnConnect and a listener's
// OnAccept come once the handshake is complete (a failed handshake reports
// its TLS code, see tls/tls_error.h), Receive and Send carry plaintext, each
// Send is one record, and receive events go on while decrypted bytes are
// waiting, also when the socket itself has nothing more. The peer's
// close_notify ends the stream as a close does, an end without it as a reset.
//
// Handlers may close, reopen or destroy their socket, or run a modal loop:
// events of one kind never nest on one socket, and nothing of the old socket
// is touched after its handler returns into a closed or reopened object.
#include <QString>

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;
class TlsContext;
class TlsStream;

class CAsyncSocket
{
public:
    static constexpr int SOCK_WOULDBLOCK = EWOULDBLOCK;
    static constexpr int INVALID_SOCKET = -1;
    static constexpr int kReceiveRunEvents = 256;
    static constexpr std::chrono::microseconds kReceiveRunTime{4000};
    static constexpr std::chrono::milliseconds kAcceptBackoff{500};

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // An IPv4 socket of the type, bound to the port (0 = any free port) on all
    // local addresses.
    bool Create(unsigned port = 0, int type = SOCK_STREAM);
    // Takes ownership of an open handle. On failure the handle stays the
    // caller's.
    bool Attach(int handle);
    bool Connect(const sockaddr* address, socklen_t length);
    // Accepts one pending connection into `connected` (closed first if open).
    virtual bool Accept(CAsyncSocket& connected, sockaddr* address = nullptr, socklen_t* length = nullptr);
    int Receive(void* buffer, int length, int flags = 0);
    int ReceiveFrom(void* buffer, int length, sockaddr* address, socklen_t* addressLength, int flags = 0);
    int Send(const void* buffer, int length, int flags = 0);
    int SendTo(const void* buffer, int length, const sockaddr* address, socklen_t addressLength,
               int flags = 0);
    // A receive handler that returned without reading holds further receive
    // events; this brings them back (at once if data is waiting).
    void ResumeReceive();
    // Closes the handle and stops all events; harmless when already closed.
    // A TLS session says close_notify first.
    virtual void Close();

    // TLS on this socket until it is closed: on an open stream socket the
    // next Connect handshakes as the context's client, checking `peerName`;
    // on a listening socket every connection handshakes as its server before
    // OnAccept.
    void UseTls(std::shared_ptr<const TlsContext> context, const QString& peerName = {});
    // The connection's TLS session once its handshake completed; else null.
    const TlsStream* Tls() const;

    bool IsOpen() const { return m_hSocket != INVALID_SOCKET; }
    // The raw handle, for listen, setsockopt and the like.
    int m_hSocket = INVALID_SOCKET;

protected:
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

    // Changes whenever the handle is closed or replaced, so a handler can tell
    // whether its socket is still the one that raised the event.
    unsigned Generation() const { return m_nGeneration; }
    // False once the object is destroyed.
    std::shared_ptr<const bool> LifeToken() const { return m_pAlive; }

private:
    enum class Role {
        Datagram,
        StreamIdle,
        StreamConnecting,
        StreamHandshaking,
        StreamConnected,
        StreamListening,
        StreamDone
    };
    enum class Event { Receive, Send, Accept, Connect, Close };

    bool AttachAs(int handle, bool connected);
    void OnReadReady();
    void OnWriteReady();
    void ReceiveRun();
    // Delivers one event; false when the handler closed, reopened or
    // destroyed the socket.
    bool Deliver(Event event, int error, bool rearm = true);
    void UpdateRead();
    void UpdateWrite();
    void CheckListening();
    void ReleaseNotifiers();
    void PauseAccepting();
    // The TLS layer (tls_socket.cpp).
    void StartTlsHandshake();
    void DriveTlsHandshake();
    void FinishTlsHandshake(int error);
    void TlsReceiveRun();
    int TlsReceive(void* buffer, int length, int flags);
    int TlsSend(const void* buffer, int length);
    void TlsFlush();
    void ScheduleTlsReceive();
    void TlsAcceptReady();
    void TlsPendingDone(int error);
    bool TlsAccept(CAsyncSocket& connected, sockaddr* address, socklen_t* length);
    void ResetTls();

    Role m_role = Role::StreamIdle;
    QSocketNotifier* m_pReadNotifier = nullptr;
    QSocketNotifier* m_pWriteNotifier = nullptr;
    unsigned m_nGeneration = 0;
    // An OnSend is owed when the socket is next writable.
    bool m_bSendArmed = false;
    // A read event was delivered and no read has followed yet.
    bool m_bReadHeld = false;
    // Inside a handler of the read kind (receive, accept, close) or of send.
    bool m_bInRead = false;
    bool m_bInWrite = false;
    // Accept failed for want of resources; accept events wait a while.
    bool m_bAcceptPaused = false;
    std::shared_ptr<bool> m_pAlive;

    // TLS: the context and name asked for, the session, and for a listener
    // the connection whose handshake runs before it is offered.
    std::shared_ptr<const TlsContext> m_pTlsContext;
    QString m_strTlsPeerName;
    std::unique_ptr<TlsStream> m_pTls;
    std::unique_ptr<CAsyncSocket> m_pTlsPending;
    bool m_bTlsPendingDone = false;
    int m_nTlsPendingError = 0;
    bool m_bTlsReceiveQueued = false;
    QTimer* m_pTlsTimer = nullptr;
    // Set on a listener's pending connection: told the handshake's outcome
    // instead of an OnConnect.
    std::function<void(int)> m_onTlsHandshake;
};
