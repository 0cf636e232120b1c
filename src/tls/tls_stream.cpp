#include "tls/tls_stream.h"

#include "platform/strings.h"
#include "tls/tls_error.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

bool IsIpAddress(const QByteArray& name)
{
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, name.constData(), address) == 1 ||
           inet_pton(AF_INET6, name.constData(), address) == 1;
}

bool IsVersionReason(int reason)
{
    switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
        return true;
    default:
        return false;
    }
}

// What arrives when the peer speaks something else than TLS.
bool IsNotTlsReason(int reason)
{
    switch (reason) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
        return true;
    default:
        return false;
    }
}

} // namespace

TlsStream::TlsStream(std::shared_ptr<const TlsContext> context, int fd, const QString& peerName)
    : m_pContext(std::move(context)), m_fd(fd)
{
    m_pSsl = SSL_new(m_pContext->Handle());
    if (!m_pSsl)
        return;
    BIO* in = BIO_new_socket(fd, BIO_NOCLOSE);
    m_pOutBio = BIO_new(BIO_s_mem());
    if (!in || !m_pOutBio) {
        BIO_free(in);
        BIO_free(m_pOutBio);
        m_pOutBio = nullptr;
        SSL_free(m_pSsl);
        m_pSsl = nullptr;
        return;
    }
    BIO_set_mem_eof_return(m_pOutBio, -1);
    SSL_set_bio(m_pSsl, in, m_pOutBio);
    SSL_set_app_data(m_pSsl, this);

    const TlsSettings& s = m_pContext->Settings();
    if (m_pContext->Role() == TlsRole::Server) {
        SSL_set_accept_state(m_pSsl);
        if (s.verify && s.UsesCaFile())
            SSL_set_verify(m_pSsl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, VerifyCallback);
        return;
    }
    SSL_set_connect_state(m_pSsl);
    // The callback sees every certificate, also when nothing is verified, so
    // that the peer's fingerprint is known whatever happens.
    SSL_set_verify(m_pSsl, SSL_VERIFY_PEER, VerifyCallback);
    const QByteArray name = (s.serverName.isEmpty() ? peerName : s.serverName).trimmed().toUtf8();
    if (name.isEmpty())
        return;
    const bool ip = IsIpAddress(name);
    // A server name is never an address.
    if (!ip)
        SSL_set_tlsext_host_name(m_pSsl, name.constData());
    if (s.verify && s.pin.isEmpty()) {
        m_strCheckedName = QString::fromUtf8(name);
        if (ip)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_pSsl), name.constData());
        else
            SSL_set1_host(m_pSsl, name.constData());
    }
}

TlsStream::~TlsStream()
{
    SSL_free(m_pSsl);
}

int TlsStream::VerifyCallback(int ok, X509_STORE_CTX* store)
{
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<TlsStream*>(SSL_get_app_data(ssl)) : nullptr;
    if (!self)
        return ok;
    if (self->m_peerSha256.isEmpty())
        self->m_peerSha256 = CertificateSha256(X509_STORE_CTX_get0_cert(store));
    const TlsSettings& s = self->m_pContext->Settings();
    if (!s.pin.isEmpty()) {
        // Pinned: exactly that certificate, whoever signed it.
        if (self->m_peerSha256 == s.pin)
            return 1;
        self->m_bPinMismatch = true;
        return 0;
    }
    if (self->m_pContext->Role() == TlsRole::Client && !s.verify)
        return 1;
    return ok;
}

int TlsStream::Drain()
{
    if (!m_pOutBio)
        return 0;
    const size_t waiting = BIO_ctrl_pending(m_pOutBio);
    if (waiting > 0) {
        if (m_nOutOffset == m_out.size()) {
            m_out.clear();
            m_nOutOffset = 0;
        }
        const size_t at = m_out.size();
        m_out.resize(at + waiting);
        const int n = BIO_read(m_pOutBio, m_out.data() + at, static_cast<int>(waiting));
        m_out.resize(at + static_cast<size_t>(std::max(n, 0)));
    }
    return Flush();
}

int TlsStream::Flush()
{
    while (m_nOutOffset < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.data() + m_nOutOffset, m_out.size() - m_nOutOffset,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return errno;
        }
        m_nOutOffset += static_cast<size_t>(n);
    }
    m_out.clear();
    m_nOutOffset = 0;
    return 0;
}

TlsStep TlsStream::Handshake()
{
    if (m_nFailure != 0)
        return TlsStep::Failed;
    if (m_bHandshakeDone)
        return TlsStep::Done;
    if (!m_pSsl) {
        SetFailure(TLS_ERR_PROTOCOL, LoadStr(443).arg(TakeOpenSslError()));
        return TlsStep::Failed;
    }
    ERR_clear_error();
    const int result = SSL_do_handshake(m_pSsl);
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(m_pSsl, result);
    const bool ongoing = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
    if (result != 1 && !ongoing) {
        // The alert that tells the peer why still goes out.
        Drain();
        Fail(error);
        return TlsStep::Failed;
    }
    if (Drain() != 0) {
        SetFailure(TLS_ERR_PEER_CLOSED, LoadStr(440));
        return TlsStep::Failed;
    }
    if (result != 1)
        return TlsStep::WantRead;
    m_bHandshakeDone = true;
    return TlsStep::Done;
}

void TlsStream::FailTimeout()
{
    SetFailure(TLS_ERR_TIMEOUT, LoadStr(441).arg((m_pContext->Settings().handshakeTimeoutMs + 999) / 1000));
}

void TlsStream::Fail(int sslError)
{
    const unsigned long code = ERR_peek_last_error();
    const int reason = code != 0 ? ERR_GET_REASON(code) : 0;
    const char* reasonString = code != 0 ? ERR_reason_error_string(code) : nullptr;
    const QString reasonText = reasonString ? QString::fromUtf8(reasonString) : QString();
    ERR_clear_error();
    if (m_bPinMismatch) {
        SetFailure(TLS_ERR_PIN, LoadStr(444) + FingerprintLine());
    } else if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        SetFailure(TLS_ERR_VERIFY,
                   LoadStr(430).arg(VerifyFailureText(SSL_get_verify_result(m_pSsl))) + FingerprintLine());
    } else if (reason == SSL_R_NO_SHARED_CIPHER) {
        SetFailure(TLS_ERR_NO_SHARED_CIPHER, LoadStr(438));
    } else if (IsVersionReason(reason)) {
        SetFailure(TLS_ERR_VERSION, LoadStr(439).arg(TlsVersionName(m_pContext->Settings().minVersion)));
    } else if (IsNotTlsReason(reason)) {
        SetFailure(TLS_ERR_NOT_TLS, LoadStr(446).arg(reasonText));
    } else if (reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) {
        SetFailure(TLS_ERR_NO_PEER_CERTIFICATE, LoadStr(447));
    } else if (reason >= SSL_AD_REASON_OFFSET) {
        // An alert from the peer: its own words for why.
        SetFailure(TLS_ERR_REFUSED, LoadStr(448).arg(reasonText));
    } else if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN ||
               reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        SetFailure(TLS_ERR_PEER_CLOSED, LoadStr(440));
    } else {
        SetFailure(TLS_ERR_PROTOCOL,
                   LoadStr(443).arg(reasonText.isEmpty() ? QString::number(sslError) : reasonText));
    }
}

void TlsStream::SetFailure(int code, const QString& text)
{
    m_nFailure = code;
    m_bBroken = true;
    RecordTlsFailure(code, text);
}

QString TlsStream::VerifyFailureText(long result) const
{
    switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return LoadStr(431);
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return LoadStr(432);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return LoadStr(433);
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return LoadStr(434);
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return LoadStr(435);
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return LoadStr(436).arg(m_strCheckedName);
    default:
        return QString::fromUtf8(X509_verify_cert_error_string(result));
    }
}

QString TlsStream::FingerprintLine() const
{
    if (m_peerSha256.isEmpty())
        return {};
    return QLatin1Char('\n') + LoadStr(437).arg(FormatFingerprint(m_peerSha256));
}

TlsStep TlsStream::Fill()
{
    if (Buffered() > 0)
        return TlsStep::Done;
    if (m_nReadError != 0)
        return TlsStep::Reset;
    if (m_bBroken || !m_pSsl)
        return TlsStep::Failed;
    // A peek decrypts the record where it lies; the read that takes it then
    // copies it once, straight into the reader's buffer.
    ERR_clear_error();
    errno = 0;
    unsigned char first;
    const int n = SSL_peek(m_pSsl, &first, 1);
    const int error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(m_pSsl, n);
    const int sysError = errno;
    // Reading may have answered something (a key update, say).
    Drain();
    if (n > 0)
        return TlsStep::Done;
    switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return TlsStep::WantRead;
    case SSL_ERROR_ZERO_RETURN:
        // close_notify: the peer's end, as a plain close.
        m_bBroken = true;
        return TlsStep::Closed;
    case SSL_ERROR_SYSCALL:
        ERR_clear_error();
        m_bBroken = true;
        m_nReadError = sysError != 0 ? sysError : ECONNRESET;
        return TlsStep::Reset;
    default: {
        const unsigned long code = ERR_peek_last_error();
        m_bBroken = true;
        if (code != 0 && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            // The end without close_notify: cut off, as a reset is.
            ERR_clear_error();
            m_nReadError = ECONNRESET;
            return TlsStep::Reset;
        }
        const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
        ERR_clear_error();
        RecordTlsFailure(TLS_ERR_PROTOCOL, LoadStr(443).arg(QString::fromUtf8(reason ? reason : "?")));
        m_nReadError = TLS_ERR_PROTOCOL;
        return TlsStep::Reset;
    }
    }
}

qsizetype TlsStream::Buffered() const
{
    return m_pSsl ? SSL_pending(m_pSsl) : 0;
}

bool TlsStream::HasPending() const
{
    return Buffered() > 0 || (m_pSsl && !m_bBroken && SSL_has_pending(m_pSsl));
}

int TlsStream::Take(void* buffer, int length, bool peek)
{
    // No more than the decrypted record holds, so no socket read happens here.
    const int n = static_cast<int>(std::min<qsizetype>(Buffered(), std::max(length, 0)));
    if (n == 0)
        return 0;
    const int taken = peek ? SSL_peek(m_pSsl, buffer, n) : SSL_read(m_pSsl, buffer, n);
    return std::max(taken, 0);
}

bool TlsStream::Write(const void* buffer, int length)
{
    if (m_bBroken || !m_pSsl || m_bShutdownSent) {
        errno = m_nReadError != 0 && m_nReadError != TLS_ERR_PROTOCOL ? m_nReadError : EPIPE;
        return false;
    }
    if (length <= 0)
        return true;
    ERR_clear_error();
    const int n = SSL_write(m_pSsl, buffer, length);
    if (n <= 0) {
        ERR_clear_error();
        m_bBroken = true;
        errno = EPIPE;
        return false;
    }
    if (const int error = Drain()) {
        errno = error;
        return false;
    }
    return true;
}

void TlsStream::Shutdown()
{
    if (!m_pSsl || !m_bHandshakeDone || m_bShutdownSent || m_nFailure != 0)
        return;
    m_bShutdownSent = true;
    // Only a session that still stands says goodbye; a broken one may not.
    if (m_bBroken && !(SSL_get_shutdown(m_pSsl) & SSL_RECEIVED_SHUTDOWN))
        return;
    ERR_clear_error();
    SSL_shutdown(m_pSsl);
    ERR_clear_error();
    Drain();
}

TlsSessionDetails TlsStream::Details() const
{
    TlsSessionDetails details;
    if (!m_pSsl || !m_bHandshakeDone)
        return details;
    QString version = QString::fromLatin1(SSL_get_version(m_pSsl));
    if (version.startsWith(QLatin1String("TLSv")))
        version = QStringLiteral("TLS ") + version.mid(4);
    details.version = version;
    details.cipher = QString::fromLatin1(SSL_get_cipher_name(m_pSsl));
    if (X509* peer = SSL_get0_peer_certificate(m_pSsl))
        details.peer = DescribeCertificate(peer);
    return details;
}
