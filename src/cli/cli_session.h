#pragma once

// CliSession: korvo-cli's one session on the core. It opens the socket as the
// window's session does (src/net/session_open.h), reports what moves to the
// session's taps, and sends what is queued on the outgoing queue as soon as
// it is due: a script need not wait for the window's 1 ms tick. A file goes
// out paced as the window's send pane sends (512 bytes per 1 ms tick), or as
// fast as the socket takes it. Queued bytes never land inside a file chunk.
#include "net/outgoing_queue.h"
#include "net/session_tap.h"
#include "panes/send_schedule.h"
#include "platform/async_socket.h"
#include "platform/tick_timer.h"

#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TlsContext;
struct TlsSessionDetails;

enum class CliSessionMode { TcpClient, TcpServer, Udp };

struct CliSessionRequest
{
    CliSessionMode mode = CliSessionMode::TcpClient;
    // TCP client: the remote; UDP: where datagrams go (may be empty), or the
    // group to join.
    QString host;
    unsigned remotePort = 0;
    unsigned localPort = 0;
    bool ipv6 = false;
    bool keepAlive = false;
    QString multicastGroup;
    // TLS for a TCP session; null for none.
    std::shared_ptr<const TlsContext> tls;
};

class CliSession
{
public:
    // The most one read takes: the command line is not bound to the window's
    // 4,096-byte reads. Output that is made of what is read takes less a read,
    // since each byte becomes five or more in a transcript, all held at once.
    static constexpr int READ_SIZE = 262144;
    static constexpr int SHOWN_READ_SIZE = 32768;
    static constexpr int FILE_CHUNK = 512;

    CliSession(SessionTaps& taps, OutgoingQueue& queue);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Opens the session; 0, or the error (errno value, resolver code, or -1
    // for a family that is neither IPv4 nor IPv6). A UDP session is open at
    // once; a TCP one tells m_onOpened when connected or accepted.
    int Open(const CliSessionRequest& request);
    // Closes everything and reports the end as Korvo's.
    void Close();

    // At most READ_SIZE.
    void SetReadSize(int size) { m_nReadSize = size; }

    bool IsConnected() const { return m_bConnected; }
    // A TCP server's listening socket is open.
    bool IsListening() const;
    CliSessionMode Mode() const { return m_request.mode; }
    // The TLS session of the connection; null without TLS.
    const TlsSessionDetails* TlsDetails() const;

    // Sends `path` (errno on open failure, else 0); m_onFileDone tells the
    // end with 0 or the send's error.
    int SendFile(const QString& path, bool fast);
    bool FileUnderWay() const { return m_file.isOpen(); }
    // Nothing waits to go: no file, nothing queued, nothing held by TLS.
    bool Idle() const;

    // A UDP session's default destination: the remote of the request, or
    // the source of the last datagram.
    bool HasDestination() const;

    std::function<void()> m_onOpened;
    // Connecting, accepting or the TLS handshake failed.
    std::function<void(int error)> m_onOpenFailed;
    // The peer closed or reset the connection (TCP).
    std::function<void(const SessionEnd& end)> m_onEnded;
    // A send failed; the session cannot go on.
    std::function<void(int error)> m_onSendFailed;
    std::function<void(int error)> m_onFileDone;
    // Everything queued has gone.
    std::function<void()> m_onIdle;

private:
    class Socket;
    friend class Socket;

    void OnReceive();
    void OnConnect(int error);
    void OnAccept(int error);
    void OnClose(int error);
    void OnWritable();
    void Pump();
    void ArmPump();
    // One step of the file: true when it may go on at once.
    bool SendFileChunk();
    void EndFile(int error);
    bool SendQueuedItem();
    void CheckIdle();
    const sockaddr* Destination(const OutgoingQueue::Item& item, socklen_t& length) const;
    void Opened(bool server);

    SessionTaps& m_taps;
    OutgoingQueue& m_queue;
    CliSessionRequest m_request;
    std::unique_ptr<Socket> m_pSocket;
    std::unique_ptr<Socket> m_pListener;
    bool m_bConnected = false;
    int m_nReadSize = READ_SIZE;
    bool m_bBlocked = false;
    bool m_bInPump = false;
    CTickTimer m_pumpTimer{[this] { Pump(); }};

    // UDP destinations.
    std::optional<sockaddr_storage> m_udpRemote;
    std::optional<sockaddr_storage> m_lastSource;

    // The file under way, and the rest of a chunk that went out short.
    QFile m_file;
    bool m_bFast = false;
    QByteArray m_chunk;
    qsizetype m_nChunkSent = 0;
    SendSchedule m_schedule;
    SendSchedule::Clock::time_point m_nextChunk{};

    std::unique_ptr<std::uint8_t[]> m_buffer;
    mutable std::unique_ptr<TlsSessionDetails> m_pTlsDetails;
};
