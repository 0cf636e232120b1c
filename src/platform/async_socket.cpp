#include "platform/async_socket.h"

#include "tls/tls_stream.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

// How deep the GUI thread is inside socket event handlers. Notifiers released
// while any handler runs are deleted later, since one of them may be the
// notifier whose signal is being delivered.
int s_nDispatchDepth = 0;

// Keeps errno across calls that may touch it.
class ErrnoKeeper
{
public:
    ErrnoKeeper() : m_saved(errno) {}
    ~ErrnoKeeper() { errno = m_saved; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int m_saved;
};

bool IsListening(int fd)
{
    int listening = 0;
    socklen_t length = sizeof listening;
    return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

bool HasPeer(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

// What the socket would report now, without waiting. Unlike a read or a peek
// this takes no lock on the socket and leaves a pending error for the
// handler's read to report.
short PollNow(int fd, short events)
{
    pollfd p{fd, events, 0};
    int n;
    do
        n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n == 1 ? p.revents : 0;
}

// Accept failures that leave the connection pending until resources return.
bool IsShortOfResources(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

CAsyncSocket::CAsyncSocket() : m_pAlive(std::make_shared<bool>(true)) {}

CAsyncSocket::~CAsyncSocket()
{
    CAsyncSocket::Close();
    *m_pAlive = false;
}

bool CAsyncSocket::Create(unsigned port, int type)
{
    Close();
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (type == SOCK_STREAM && port != 0) {
        // A listening port must be free again at once after its last session
        // even while closed connections linger; two listeners still cannot
        // share it.
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || !Attach(fd)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    return true;
}

bool CAsyncSocket::Attach(int handle)
{
    return AttachAs(handle, false);
}

bool CAsyncSocket::AttachAs(int handle, bool connected)
{
    if (handle < 0) {
        errno = EBADF;
        return false;
    }
    if (handle == m_hSocket)
        return true;
    int type = 0;
    socklen_t typeLength = sizeof type;
    if (getsockopt(handle, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0)
        return false;
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || fcntl(handle, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int fdFlags = fcntl(handle, F_GETFD);
    if (fdFlags >= 0)
        fcntl(handle, F_SETFD, fdFlags | FD_CLOEXEC);

    Close();
    m_hSocket = handle;
    ++m_nGeneration;
    if (type != SOCK_STREAM) {
        m_role = Role::Datagram;
        m_bSendArmed = true;
    } else if (IsListening(handle)) {
        m_role = Role::StreamListening;
    } else if (connected || HasPeer(handle)) {
        // An accepted socket is connected even when its peer reset it before
        // the accept and it has no peer name any more: it still owes a close.
        m_role = Role::StreamConnected;
        m_bSendArmed = true;
    } else {
        m_role = Role::StreamIdle;
    }

    m_pReadNotifier = new QSocketNotifier(QSocketNotifier::Read);
    m_pReadNotifier->setSocket(handle);
    QObject::connect(m_pReadNotifier, &QSocketNotifier::activated, [this] { OnReadReady(); });
    m_pWriteNotifier = new QSocketNotifier(QSocketNotifier::Write);
    m_pWriteNotifier->setSocket(handle);
    QObject::connect(m_pWriteNotifier, &QSocketNotifier::activated, [this] { OnWriteReady(); });
    UpdateRead();
    UpdateWrite();

    if (m_role == Role::StreamIdle) {
        // The owner calls listen on the raw handle right after this; look
        // again once control is back in the event loop.
        const std::weak_ptr<bool> token = m_pAlive;
        const unsigned generation = m_nGeneration;
        QTimer::singleShot(0, m_pReadNotifier, [this, token, generation] {
            const auto alive = token.lock();
            if (alive && *alive && generation == m_nGeneration)
                CheckListening();
        });
    }
    return true;
}

bool CAsyncSocket::Connect(const sockaddr* address, socklen_t length)
{
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const int result = ::connect(m_hSocket, address, length);
    // EAGAIN here is a failure (no free local port), not a connect under way;
    // it must not read as SOCK_WOULDBLOCK.
    if (result != 0 && errno == EAGAIN)
        errno = EADDRNOTAVAIL;
    if (m_role == Role::Datagram)
        return result == 0;
    if (result != 0 && errno != EINPROGRESS && errno != EINTR)
        return false;
    // Even a connect that completed at once reports its outcome as an event.
    m_role = Role::StreamConnecting;
    {
        ErrnoKeeper keep;
        UpdateRead();
        UpdateWrite();
    }
    if (result == 0)
        return true;
    errno = SOCK_WOULDBLOCK;
    return false;
}

bool CAsyncSocket::Accept(CAsyncSocket& connected, sockaddr* address, socklen_t* length)
{
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    if (m_pTlsContext)
        return TlsAccept(connected, address, length);
    int fd;
    do
        fd = ::accept4(m_hSocket, address, length, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    const int error = fd < 0 ? errno : 0;
    m_bReadHeld = false;
    if (IsShortOfResources(error))
        PauseAccepting();
    UpdateRead();
    if (fd < 0) {
        errno = error;
        return false;
    }
    if (!connected.AttachAs(fd, true)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    return true;
}

void CAsyncSocket::PauseAccepting()
{
    // The connection is still pending and the event would come straight
    // back: wait before trying again.
    m_bAcceptPaused = true;
    const std::weak_ptr<bool> token = m_pAlive;
    const unsigned generation = m_nGeneration;
    QTimer::singleShot(kAcceptBackoff, m_pReadNotifier, [this, token, generation] {
        const auto alive = token.lock();
        if (alive && *alive && generation == m_nGeneration) {
            m_bAcceptPaused = false;
            UpdateRead();
        }
    });
}

int CAsyncSocket::Receive(void* buffer, int length, int flags)
{
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    if (m_pTls)
        return TlsReceive(buffer, length, flags);
    ssize_t n;
    do
        n = ::recv(m_hSocket, buffer, static_cast<size_t>(length), flags);
    while (n < 0 && errno == EINTR);
    ErrnoKeeper keep;
    m_bReadHeld = false;
    UpdateRead();
    return static_cast<int>(n);
}

int CAsyncSocket::ReceiveFrom(void* buffer, int length, sockaddr* address, socklen_t* addressLength,
                              int flags)
{
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    ssize_t n;
    do
        n = ::recvfrom(m_hSocket, buffer, static_cast<size_t>(length), flags, address, addressLength);
    while (n < 0 && errno == EINTR);
    ErrnoKeeper keep;
    m_bReadHeld = false;
    UpdateRead();
    return static_cast<int>(n);
}

int CAsyncSocket::Send(const void* buffer, int length, int flags)
{
    return SendTo(buffer, length, nullptr, 0, flags);
}

int CAsyncSocket::SendTo(const void* buffer, int length, const sockaddr* address, socklen_t addressLength,
                         int flags)
{
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    if (m_pTls && !address)
        return TlsSend(buffer, length);
    ssize_t n;
    do
        n = ::sendto(m_hSocket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL, address,
                     addressLength);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m_bSendArmed = true;
        {
            ErrnoKeeper keep;
            UpdateWrite();
        }
        errno = SOCK_WOULDBLOCK;
    }
    return static_cast<int>(n);
}

void CAsyncSocket::ResumeReceive()
{
    if (!IsOpen() || !m_bReadHeld || m_role == Role::StreamListening)
        return;
    m_bReadHeld = false;
    UpdateRead();
    if (m_pTls)
        ScheduleTlsReceive();
}

void CAsyncSocket::Close()
{
    if (!IsOpen()) {
        m_pTlsContext.reset();
        return;
    }
    ErrnoKeeper keep;
    ResetTls();
    ReleaseNotifiers();
    ::close(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    ++m_nGeneration;
    m_role = Role::StreamIdle;
    m_bSendArmed = false;
    m_bReadHeld = false;
    m_bInRead = false;
    m_bInWrite = false;
    m_bAcceptPaused = false;
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

void CAsyncSocket::UpdateRead()
{
    if (!m_pReadNotifier)
        return;
    const bool readable =
        m_role == Role::Datagram || m_role == Role::StreamConnected || m_role == Role::StreamListening;
    // A handshake reads whenever the peer has something; a listener waits
    // while the connection before it is in its handshake.
    if (m_role == Role::StreamHandshaking || (m_role == Role::StreamListening && m_pTlsPending)) {
        m_pReadNotifier->setEnabled(m_role == Role::StreamHandshaking);
        return;
    }
    m_pReadNotifier->setEnabled(readable && !m_bReadHeld && !m_bInRead && !m_bAcceptPaused);
}

void CAsyncSocket::UpdateWrite()
{
    if (!m_pWriteNotifier)
        return;
    const bool waitForSpace =
        (m_role == Role::Datagram || m_role == Role::StreamConnected) && m_bSendArmed && !m_bInWrite;
    // Records TLS could not hand to the socket at once go when it has room.
    const bool tlsOutput = m_pTls && m_pTls->OutputPending() && m_role != Role::StreamDone;
    m_pWriteNotifier->setEnabled(m_role == Role::StreamConnecting || waitForSpace || tlsOutput);
}

void CAsyncSocket::CheckListening()
{
    if (m_role == Role::StreamIdle && IsListening(m_hSocket)) {
        m_role = Role::StreamListening;
        UpdateRead();
    }
}

void CAsyncSocket::OnReadReady()
{
    if (!IsOpen())
        return;
    m_pReadNotifier->setEnabled(false);
    if (m_role == Role::StreamIdle)
        CheckListening();
    switch (m_role) {
    case Role::Datagram:
    case Role::StreamConnected:
        ReceiveRun();
        return;
    case Role::StreamHandshaking:
        DriveTlsHandshake();
        return;
    case Role::StreamListening:
        if (m_pTlsContext) {
            TlsAcceptReady();
            return;
        }
        m_bReadHeld = true;
        Deliver(Event::Accept, 0);
        return;
    default:
        return;
    }
}

void CAsyncSocket::ReceiveRun()
{
    // One turn of the event loop per block would cost far more than the block
    // itself on a real display; while data remains, the next event follows at
    // once, for a bounded run.
    if (m_pTls) {
        TlsReceiveRun();
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kReceiveRunTime;
    for (int delivered = 0;; ++delivered) {
        if (delivered > 0 && (delivered == kReceiveRunEvents || std::chrono::steady_clock::now() >= deadline))
            break;
        if (m_role == Role::StreamConnected) {
            const short ready = PollNow(m_hSocket, POLLIN | POLLRDHUP);
            if (ready == 0)
                break;
            // Only data is waiting: no need to look closer.
            char byte;
            ssize_t n = 1;
            if (ready != POLLIN) {
                // The peer's end or an error, perhaps behind data still unread.
                do
                    n = ::recv(m_hSocket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
                while (n < 0 && errno == EINTR);
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n <= 0) {
                // End of stream or reset, reported once; the socket stays open
                // until its owner closes it.
                const int error = n == 0 ? 0 : errno;
                m_role = Role::StreamDone;
                UpdateWrite();
                Deliver(Event::Close, error);
                return;
            }
        } else if (delivered > 0 && PollNow(m_hSocket, POLLIN) == 0) {
            break;
        }
        m_bReadHeld = true;
        // The notifier stays off for the whole run.
        if (!Deliver(Event::Receive, 0, false))
            return;
        if (m_bReadHeld)
            break; // no read, no next event
    }
    UpdateRead();
}

void CAsyncSocket::OnWriteReady()
{
    if (!IsOpen())
        return;
    m_pWriteNotifier->setEnabled(false);
    if (m_role == Role::StreamConnecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0 && !HasPeer(m_hSocket) && errno == ENOTCONN) {
            UpdateWrite(); // not finished after all
            return;
        }
        if (error == 0 && m_pTlsContext) {
            StartTlsHandshake();
            return;
        }
        m_role = error == 0 ? Role::StreamConnected : Role::StreamDone;
        m_bSendArmed = error == 0;
        // Reads and writes flow from now on, also while the connect handler
        // runs a modal loop.
        UpdateRead();
        UpdateWrite();
        Deliver(Event::Connect, error);
        return;
    }
    if (m_role == Role::StreamHandshaking) {
        DriveTlsHandshake();
        return;
    }
    if (m_pTls && m_pTls->OutputPending()) {
        TlsFlush();
        if (m_pTls->OutputPending())
            return;
    }
    if (m_bSendArmed) {
        m_bSendArmed = false;
        Deliver(Event::Send, 0);
    }
}

bool CAsyncSocket::Deliver(Event event, int error, bool rearm)
{
    const std::shared_ptr<bool> alive = m_pAlive;
    const unsigned generation = m_nGeneration;
    const bool readKind = event == Event::Receive || event == Event::Accept || event == Event::Close;
    const bool writeKind = event == Event::Send;
    if (readKind)
        m_bInRead = true;
    if (writeKind)
        m_bInWrite = true;

    ++s_nDispatchDepth;
    switch (event) {
    case Event::Receive:
        OnReceive(error);
        break;
    case Event::Send:
        OnSend(error);
        break;
    case Event::Accept:
        OnAccept(error);
        break;
    case Event::Connect:
        OnConnect(error);
        break;
    case Event::Close:
        OnClose(error);
        break;
    }
    --s_nDispatchDepth;

    // The handler may have destroyed, closed or reopened this socket.
    if (!*alive || generation != m_nGeneration)
        return false;
    if (readKind) {
        m_bInRead = false;
        if (rearm)
            UpdateRead();
    }
    if (writeKind) {
        m_bInWrite = false;
        UpdateWrite();
    }
    return true;
}

void CAsyncSocket::ReleaseNotifiers()
{
    for (QSocketNotifier** notifier : {&m_pReadNotifier, &m_pWriteNotifier}) {
        if (!*notifier)
            continue;
        QObject::disconnect(*notifier, nullptr, nullptr, nullptr);
        (*notifier)->setEnabled(false);
        if (s_nDispatchDepth > 0)
            (*notifier)->deleteLater();
        else
            delete *notifier;
        *notifier = nullptr;
    }
}
