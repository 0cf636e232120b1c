#include "cli/cli_session.h"

#include "net/endpoint.h"
#include "net/session_open.h"
#include "tls/tls_error.h"
#include "tls/tls_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A fast transfer or a long queue yields to the event loop after this many
// sends, so reading and timers go on meanwhile.
constexpr int SENDS_PER_TURN = 64;
// The most one send of a TCP session carries: one TLS record at most.
constexpr int TCP_SEND_MAX = 16384;

std::optional<sockaddr_storage> ResolveDestination(const QString& host, unsigned port)
{
    AddrInfoPtr result;
    if (Resolve(UdpSendRequest(host, port), result) != 0 || !result)
        return std::nullopt;
    sockaddr_storage address{};
    std::memcpy(&address, result->ai_addr, std::min<std::size_t>(result->ai_addrlen, sizeof address));
    return address;
}

} // namespace

class CliSession::Socket : public CAsyncSocket
{
public:
    Socket(CliSession& session, bool listener) : m_session(session), m_bListener(listener) {}

protected:
    void OnReceive(int) override { m_session.OnReceive(); }
    void OnSend(int error) override
    {
        if (error == 0)
            m_session.OnWritable();
    }
    void OnAccept(int error) override { m_session.OnAccept(error); }
    void OnConnect(int error) override { m_session.OnConnect(error); }
    void OnClose(int error) override
    {
        if (!m_bListener)
            m_session.OnClose(error);
    }

private:
    CliSession& m_session;
    bool m_bListener;
};

CliSession::CliSession(SessionTaps& taps, OutgoingQueue& queue)
    : m_taps(taps), m_queue(queue), m_pSocket(std::make_unique<Socket>(*this, false)),
      m_pListener(std::make_unique<Socket>(*this, true)), m_buffer(new std::uint8_t[READ_SIZE])
{
    m_queue.m_onQueued = [this] { ArmPump(); };
    m_taps.m_onSendReleased = [this] { ArmPump(); };
    m_taps.m_onReceiveReleased = [this] { m_pSocket->ResumeReceive(); };
}

CliSession::~CliSession()
{
    m_queue.m_onQueued = nullptr;
    m_taps.m_onSendReleased = nullptr;
    m_taps.m_onReceiveReleased = nullptr;
}

int CliSession::Open(const CliSessionRequest& request)
{
    m_request = request;
    SessionOpenOutcome outcome;
    const auto tls = [&request](const QString& peerName) -> PrepareSocket {
        if (!request.tls)
            return {};
        return [&request, peerName](CAsyncSocket& socket) {
            socket.UseTls(request.tls, peerName);
            return true;
        };
    };
    switch (request.mode) {
    case CliSessionMode::TcpClient:
        outcome = ConnectTcpSession(*m_pSocket, request.host, request.remotePort, request.keepAlive,
                                    tls(request.host));
        break;
    case CliSessionMode::TcpServer:
        outcome = ListenTcpSession(*m_pListener, request.localPort, !request.ipv6, request.ipv6,
                                   request.keepAlive, tls({}));
        break;
    case CliSessionMode::Udp: {
        const QString remote = request.multicastGroup.isEmpty() ? request.host : request.multicastGroup;
        outcome = OpenUdpSession(*m_pSocket, remote, request.localPort);
        if (!outcome.Ok())
            break;
        if (!request.host.isEmpty()) {
            m_udpRemote = ResolveDestination(request.host, request.remotePort);
            if (!m_udpRemote) {
                AddrInfoPtr unused;
                const int code = Resolve(UdpSendRequest(request.host, request.remotePort), unused);
                m_pSocket->Close();
                return code != 0 ? code : EADDRNOTAVAIL;
            }
        } else if (!request.multicastGroup.isEmpty()) {
            m_udpRemote = ResolveDestination(request.multicastGroup, request.localPort);
        }
        m_pSocket->ReportDestinations();
        const sockaddr* remoteAddress =
            m_udpRemote ? reinterpret_cast<const sockaddr*>(&*m_udpRemote) : nullptr;
        m_bConnected = true;
        m_taps.Opened(DescribeSession(m_pSocket->m_hSocket, SessionProtocol::Udp, false, false, remoteAddress,
                                      AddressLength(remoteAddress)));
        break;
    }
    }
    if (outcome.unknownFamily)
        return -1;
    return outcome.error;
}

void CliSession::Close()
{
    m_pumpTimer.Stop();
    m_file.close();
    m_chunk.clear();
    m_nChunkSent = 0;
    m_queue.Clear();
    m_pSocket->Close();
    m_pListener->Close();
    m_bConnected = false;
    m_bBlocked = false;
    m_taps.Ended(SessionEnd::ClosedBy(SessionSide::Local));
}

bool CliSession::IsListening() const
{
    return m_pListener->IsOpen();
}

const TlsSessionDetails* CliSession::TlsDetails() const
{
    const TlsStream* tls = m_pSocket->Tls();
    if (!tls)
        return nullptr;
    m_pTlsDetails = std::make_unique<TlsSessionDetails>(tls->Details());
    return m_pTlsDetails.get();
}

void CliSession::Opened(bool server)
{
    m_bConnected = true;
    m_bBlocked = false;
    m_taps.Opened(DescribeSession(m_pSocket->m_hSocket, SessionProtocol::Tcp, server, false));
    if (m_onOpened)
        m_onOpened();
}

void CliSession::OnConnect(int error)
{
    if (error != 0) {
        m_pSocket->Close();
        if (m_onOpenFailed)
            m_onOpenFailed(error);
        return;
    }
    Opened(false);
}

void CliSession::OnAccept(int error)
{
    if (error != 0) {
        if (m_onOpenFailed)
            m_onOpenFailed(error);
        return;
    }
    if (m_bConnected) {
        // One peer at a time, as the window's server: another is let go.
        Socket refused(*this, true);
        if (m_pListener->Accept(refused))
            refused.Close();
        return;
    }
    // A failure for want of descriptors is retried by the listener; a client
    // whose TLS handshake failed is gone, and the run is told why.
    if (!m_pListener->Accept(*m_pSocket)) {
        const int acceptError = errno;
        if (IsTlsError(acceptError) && m_onOpenFailed)
            m_onOpenFailed(acceptError);
        return;
    }
    Opened(true);
}

void CliSession::OnReceive()
{
    // A tap that is behind (a capture) holds reading until it lets go.
    if (m_taps.ReceiveHeld())
        return;
    if (m_request.mode == CliSessionMode::Udp) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        sockaddr_storage to{};
        const int n = m_pSocket->ReceiveDatagram(m_buffer.get(), m_nReadSize,
                                                 reinterpret_cast<sockaddr*>(&from), &length, &to);
        if (n < 0)
            return;
        m_lastSource = from;
        if (n > 0)
            m_taps.Received(m_buffer.get(), n, reinterpret_cast<const sockaddr*>(&from),
                            to.ss_family != AF_UNSPEC ? reinterpret_cast<const sockaddr*>(&to) : nullptr);
        return;
    }
    const int n = m_pSocket->Receive(m_buffer.get(), m_nReadSize);
    if (n > 0)
        m_taps.Received(m_buffer.get(), n, reinterpret_cast<const sockaddr*>(&m_taps.Current().remote));
}

void CliSession::OnClose(int error)
{
    const bool wasConnected = m_bConnected;
    m_bConnected = false;
    m_bBlocked = false;
    m_pumpTimer.Stop();
    m_queue.Clear();
    const SessionEnd end = error != 0 ? SessionEnd::Failed(error) : SessionEnd::ClosedBy(SessionSide::Remote);
    m_taps.Ended(end);
    if (m_file.isOpen())
        EndFile(error != 0 ? error : EPIPE);
    if (wasConnected && m_onEnded)
        m_onEnded(end);
}

void CliSession::OnWritable()
{
    m_bBlocked = false;
    Pump();
}

int CliSession::SendFile(const QString& path, bool fast)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        const int error = errno != 0 ? errno : ENOENT;
        return error;
    }
    m_bFast = fast;
    m_nextChunk = SendSchedule::Clock::now();
    m_schedule.TickStarted(m_nextChunk - SendSchedule::TICK);
    ArmPump();
    return 0;
}

void CliSession::EndFile(int error)
{
    m_file.close();
    m_chunk.clear();
    m_nChunkSent = 0;
    if (m_onFileDone)
        m_onFileDone(error);
}

bool CliSession::Idle() const
{
    return !m_file.isOpen() && m_nChunkSent >= m_chunk.size() && m_queue.Empty();
}

bool CliSession::HasDestination() const
{
    return m_request.mode != CliSessionMode::Udp || m_udpRemote || m_lastSource;
}

const sockaddr* CliSession::Destination(const OutgoingQueue::Item& item, socklen_t& length) const
{
    const sockaddr* to = nullptr;
    if (item.destination)
        to = reinterpret_cast<const sockaddr*>(&*item.destination);
    else if (m_udpRemote)
        to = reinterpret_cast<const sockaddr*>(&*m_udpRemote);
    else if (m_lastSource)
        to = reinterpret_cast<const sockaddr*>(&*m_lastSource);
    length = AddressLength(to);
    return to;
}

bool CliSession::SendQueuedItem()
{
    const OutgoingQueue::Item* item = m_queue.Next(SendSchedule::Clock::now());
    // A copy shares the bytes and stays valid whatever a tap queues meanwhile.
    const QByteArray bytes = item->bytes;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + item->sent;
    const int left = static_cast<int>(bytes.size() - item->sent);
    const bool udp = m_request.mode == CliSessionMode::Udp;
    int r;
    const sockaddr* to = nullptr;
    if (udp) {
        socklen_t length = 0;
        to = Destination(*item, length);
        if (!to) {
            m_queue.Fail(EDESTADDRREQ);
            return true;
        }
        r = m_pSocket->SendTo(data, left, to, length);
    } else {
        r = m_pSocket->Send(data, std::min(left, TCP_SEND_MAX));
    }
    if (r < 0) {
        const int error = errno;
        if (error == CAsyncSocket::SOCK_WOULDBLOCK) {
            m_bBlocked = true;
            return false;
        }
        m_queue.Fail(error);
        if (!udp) {
            if (m_onSendFailed)
                m_onSendFailed(error);
            return false;
        }
        return true;
    }
    if (r > 0) {
        m_taps.Sent(data, r, udp ? to : reinterpret_cast<const sockaddr*>(&m_taps.Current().remote));
        m_queue.Advance(r, udp);
    }
    return true;
}

bool CliSession::SendFileChunk()
{
    const bool udp = m_request.mode == CliSessionMode::Udp;
    if (m_nChunkSent >= m_chunk.size()) {
        const auto now = SendSchedule::Clock::now();
        if (!m_bFast && now < m_nextChunk)
            return false;
        const qint64 size = m_bFast && !udp ? TCP_SEND_MAX : FILE_CHUNK;
        m_chunk = m_file.read(size);
        m_nChunkSent = 0;
        if (m_chunk.isEmpty()) {
            EndFile(m_file.error() == QFileDevice::NoError ? 0 : EIO);
            return false;
        }
        if (!m_bFast) {
            m_schedule.TickStarted(m_nextChunk);
            m_nextChunk = m_schedule.Next(true, now);
        }
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_chunk.constData()) + m_nChunkSent;
    const int left = static_cast<int>(m_chunk.size() - m_nChunkSent);
    int r;
    const sockaddr* to = nullptr;
    if (udp) {
        OutgoingQueue::Item none;
        socklen_t length = 0;
        to = Destination(none, length);
        if (!to) {
            EndFile(EDESTADDRREQ);
            return false;
        }
        r = m_pSocket->SendTo(data, left, to, length);
    } else {
        r = m_pSocket->Send(data, left);
    }
    if (r < 0) {
        const int error = errno;
        if (error == CAsyncSocket::SOCK_WOULDBLOCK) {
            m_bBlocked = true;
            return false;
        }
        EndFile(error);
        if (!udp && m_onSendFailed)
            m_onSendFailed(error);
        return false;
    }
    if (r > 0)
        m_taps.Sent(data, r, udp ? to : reinterpret_cast<const sockaddr*>(&m_taps.Current().remote));
    m_nChunkSent = udp ? m_chunk.size() : m_nChunkSent + r;
    return true;
}

void CliSession::Pump()
{
    if (m_bInPump)
        return;
    m_bInPump = true;
    m_pumpTimer.Stop();
    for (int sends = 0; sends < SENDS_PER_TURN && m_bConnected && !m_bBlocked; ++sends) {
        // The rest of a file chunk that went out short comes first, so that
        // queued bytes never land inside it.
        const bool chunkOpen = m_nChunkSent < m_chunk.size();
        if (!chunkOpen && !m_taps.SendHeld() && m_queue.Next(SendSchedule::Clock::now())) {
            if (!SendQueuedItem())
                break;
            continue;
        }
        if (!m_file.isOpen() || !SendFileChunk())
            break;
    }
    m_bInPump = false;
    ArmPump();
    if (Idle() && m_onIdle)
        m_onIdle();
}

void CliSession::ArmPump()
{
    if (m_bInPump || !m_bConnected || m_bBlocked)
        return;
    std::optional<SendSchedule::Clock::time_point> due;
    const bool chunkOpen = m_nChunkSent < m_chunk.size();
    if (const auto queued = m_queue.NextDue(); queued && !chunkOpen && !m_taps.SendHeld())
        due = *queued;
    if (m_file.isOpen()) {
        const auto file = chunkOpen || m_bFast ? SendSchedule::Clock::now() : m_nextChunk;
        due = due ? std::min(*due, file) : file;
    }
    if (due && (!m_pumpTimer.IsActive() || *due < m_pumpTimer.Due()))
        m_pumpTimer.StartAt(*due);
}
