// The TLS layer of CAsyncSocket: handshakes before the connect and accept
// events, plaintext through Receive and Send, and receive events while
// decrypted bytes wait inside TLS rather than in the socket.
#include "platform/async_socket.h"

#include "tls/tls_error.h"
#include "tls/tls_stream.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

void CAsyncSocket::UseTls(std::shared_ptr<const TlsContext> context, const QString& peerName)
{
    m_pTlsContext = std::move(context);
    m_strTlsPeerName = peerName;
}

const TlsStream* CAsyncSocket::Tls() const
{
    return m_pTls && m_pTls->HandshakeDone() ? m_pTls.get() : nullptr;
}

void CAsyncSocket::ResetTls()
{
    if (m_pTls) {
        m_pTls->Shutdown();
        m_pTls.reset();
    }
    m_pTlsPending.reset();
    m_bTlsPendingDone = false;
    m_nTlsPendingError = 0;
    m_bTlsReceiveQueued = false;
    m_pTlsContext.reset();
    m_strTlsPeerName.clear();
    m_onTlsHandshake = nullptr;
    if (m_pTlsTimer) {
        m_pTlsTimer->stop();
        m_pTlsTimer->deleteLater();
        m_pTlsTimer = nullptr;
    }
}

void CAsyncSocket::StartTlsHandshake()
{
    m_pTls = std::make_unique<TlsStream>(m_pTlsContext, m_hSocket, m_strTlsPeerName);
    m_role = Role::StreamHandshaking;
    m_bSendArmed = false;
    // A peer that never answers must not hold the session for ever.
    m_pTlsTimer = new QTimer;
    m_pTlsTimer->setSingleShot(true);
    const std::weak_ptr<bool> token = m_pAlive;
    const unsigned generation = m_nGeneration;
    QObject::connect(m_pTlsTimer, &QTimer::timeout, [this, token, generation] {
        const auto alive = token.lock();
        if (!alive || !*alive || generation != m_nGeneration || m_role != Role::StreamHandshaking)
            return;
        m_pTls->FailTimeout();
        FinishTlsHandshake(m_pTls->FailureCode());
    });
    m_pTlsTimer->start(m_pTlsContext->Settings().handshakeTimeoutMs);
    DriveTlsHandshake();
}

void CAsyncSocket::DriveTlsHandshake()
{
    const TlsStep step = m_pTls->Handshake();
    if (step == TlsStep::WantRead) {
        UpdateRead();
        UpdateWrite();
        return;
    }
    FinishTlsHandshake(step == TlsStep::Done ? 0 : m_pTls->FailureCode());
}

void CAsyncSocket::FinishTlsHandshake(int error)
{
    if (m_pTlsTimer) {
        m_pTlsTimer->stop();
        m_pTlsTimer->deleteLater();
        m_pTlsTimer = nullptr;
    }
    m_role = error == 0 ? Role::StreamConnected : Role::StreamDone;
    m_bSendArmed = error == 0;
    UpdateRead();
    UpdateWrite();
    if (m_onTlsHandshake) {
        // A listener's connection: the listener offers it, or its failure.
        const auto told = m_onTlsHandshake;
        told(error);
        return;
    }
    // The peer's first bytes may have come with its last handshake record;
    // they are offered also while the connect handler runs a modal loop.
    if (error == 0)
        ScheduleTlsReceive();
    Deliver(Event::Connect, error);
}

void CAsyncSocket::ScheduleTlsReceive()
{
    if (!m_pTls || m_bTlsReceiveQueued || m_bInRead || m_bReadHeld || m_role != Role::StreamConnected ||
        !m_pTls->HasPending())
        return;
    m_bTlsReceiveQueued = true;
    const std::weak_ptr<bool> token = m_pAlive;
    const unsigned generation = m_nGeneration;
    QTimer::singleShot(0, m_pReadNotifier, [this, token, generation] {
        const auto alive = token.lock();
        if (!alive || !*alive || generation != m_nGeneration)
            return;
        m_bTlsReceiveQueued = false;
        if (m_role != Role::StreamConnected || m_bReadHeld || m_bInRead)
            return;
        m_pReadNotifier->setEnabled(false);
        TlsReceiveRun();
    });
}

void CAsyncSocket::TlsReceiveRun()
{
    // As the plain run, but readiness is TLS's: a record may lie decrypted or
    // read ahead with the socket empty, and a socket with bytes may not yet
    // hold a whole record.
    const auto deadline = std::chrono::steady_clock::now() + kReceiveRunTime;
    for (int delivered = 0;; ++delivered) {
        if (delivered > 0 &&
            (delivered == kReceiveRunEvents || std::chrono::steady_clock::now() >= deadline)) {
            UpdateRead();
            ScheduleTlsReceive();
            return;
        }
        const TlsStep step = m_pTls->Fill();
        if (step == TlsStep::WantRead)
            break;
        if (step != TlsStep::Done) {
            // close_notify reads as a close, an end without it as a reset.
            const int error = step == TlsStep::Closed ? 0 : m_pTls->ReadError();
            m_role = Role::StreamDone;
            UpdateWrite();
            Deliver(Event::Close, error);
            return;
        }
        m_bReadHeld = true;
        if (!Deliver(Event::Receive, 0, false))
            return;
        if (m_bReadHeld)
            break; // no read, no next event
    }
    UpdateRead();
    UpdateWrite();
}

int CAsyncSocket::TlsReceive(void* buffer, int length, int flags)
{
    const TlsStep step = m_pTls->Fill();
    int n;
    if (step == TlsStep::Done) {
        n = m_pTls->Take(buffer, length, (flags & MSG_PEEK) != 0);
    } else if (step == TlsStep::Closed) {
        n = 0;
    } else {
        n = -1;
        errno = step == TlsStep::WantRead ? EWOULDBLOCK : m_pTls->ReadError();
    }
    const int error = errno;
    m_bReadHeld = false;
    UpdateRead();
    UpdateWrite();
    // Bytes left inside TLS raise no socket event of their own.
    ScheduleTlsReceive();
    errno = error;
    return n;
}

int CAsyncSocket::TlsSend(const void* buffer, int length)
{
    if (m_role != Role::StreamConnected) {
        errno = m_role == Role::StreamDone ? EPIPE : ENOTCONN;
        return -1;
    }
    // A record still on its way: nothing more is taken until it went, as a
    // full socket takes nothing.
    if (m_pTls->OutputPending()) {
        if (const int error = m_pTls->Flush()) {
            errno = error;
            return -1;
        }
        if (m_pTls->OutputPending()) {
            m_bSendArmed = true;
            UpdateWrite();
            errno = SOCK_WOULDBLOCK;
            return -1;
        }
    }
    if (!m_pTls->Write(buffer, length))
        return -1;
    if (m_pTls->OutputPending()) {
        const int error = errno;
        UpdateWrite();
        errno = error;
    }
    return length;
}

void CAsyncSocket::TlsFlush()
{
    // A failure shows at the next send or read.
    m_pTls->Flush();
    UpdateWrite();
}

void CAsyncSocket::TlsAcceptReady()
{
    int fd;
    do
        fd = ::accept4(m_hSocket, nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED) {
            UpdateRead();
            return;
        }
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
            PauseAccepting();
        // Offered as a connection whose accept fails, as without TLS.
        TlsPendingDone(error);
        return;
    }
    auto pending = std::make_unique<CAsyncSocket>();
    if (!pending->AttachAs(fd, true)) {
        ::close(fd);
        UpdateRead();
        return;
    }
    pending->m_pTlsContext = m_pTlsContext;
    // Told from inside the pending socket's own handler: offer it once that
    // handler has returned, since Accept takes the pending socket apart.
    const std::weak_ptr<bool> token = m_pAlive;
    const unsigned generation = m_nGeneration;
    pending->m_onTlsHandshake = [this, token, generation](int error) {
        QTimer::singleShot(0, m_pReadNotifier, [this, token, generation, error] {
            const auto alive = token.lock();
            if (alive && *alive && generation == m_nGeneration && m_pTlsPending)
                TlsPendingDone(error);
        });
    };
    m_pTlsPending = std::move(pending);
    UpdateRead();
    m_pTlsPending->StartTlsHandshake();
}

void CAsyncSocket::TlsPendingDone(int error)
{
    m_bTlsPendingDone = true;
    m_nTlsPendingError = error;
    m_bReadHeld = true;
    Deliver(Event::Accept, 0);
}

bool CAsyncSocket::TlsAccept(CAsyncSocket& connected, sockaddr* address, socklen_t* length)
{
    m_bReadHeld = false;
    if (!m_bTlsPendingDone) {
        UpdateRead();
        errno = SOCK_WOULDBLOCK;
        return false;
    }
    m_bTlsPendingDone = false;
    std::unique_ptr<CAsyncSocket> pending = std::move(m_pTlsPending);
    const int error = m_nTlsPendingError;
    m_nTlsPendingError = 0;
    // The next connection may start its handshake.
    UpdateRead();
    if (error != 0 || !pending || !pending->m_pTls) {
        errno = error != 0 ? error : ECONNABORTED;
        return false;
    }
    if (address && length && getpeername(pending->m_hSocket, address, length) != 0)
        *length = 0;
    // The connection moves over whole: its handle and its TLS session.
    std::unique_ptr<TlsStream> tls = std::move(pending->m_pTls);
    const int fd = pending->m_hSocket;
    pending->ReleaseNotifiers();
    pending->m_hSocket = INVALID_SOCKET;
    pending.reset();
    if (!connected.AttachAs(fd, true)) {
        const int attachError = errno;
        ::close(fd);
        errno = attachError;
        return false;
    }
    connected.m_pTls = std::move(tls);
    connected.UpdateRead();
    connected.UpdateWrite();
    connected.ScheduleTlsReceive();
    return true;
}
