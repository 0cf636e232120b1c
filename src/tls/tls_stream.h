#pragma once

// TlsStream: one TLS connection over a non-blocking socket that someone else
// owns and polls. Records are read straight from the socket; what TLS writes
// goes through a buffer of this object, so that a write either takes all its
// bytes into one record or none, as a send into the system's buffer does,
// and a record that did not fit goes on when the socket has room.
#include "tls/tls_certificate.h"
#include "tls/tls_context.h"

#include <QByteArray>
#include <QString>

#include <openssl/types.h>

#include <memory>
#include <optional>
#include <vector>

// What a handshake step or a read came to.
enum class TlsStep {
    Done,
    // Waiting for the peer; the socket's readability moves it on.
    WantRead,
    // The peer ended the session: close_notify (Closed) or without (Reset).
    Closed,
    Reset,
    Failed,
};

struct TlsSessionDetails
{
    QString version; // "TLS 1.3"
    QString cipher;
    std::optional<CertificateInfo> peer;
};

class TlsStream
{
public:
    // `peerName`: a client's SNI and the name its peer's certificate must
    // carry (an IP address is checked but not sent); empty for neither.
    TlsStream(std::shared_ptr<const TlsContext> context, int fd, const QString& peerName);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    TlsStep Handshake();
    bool HandshakeDone() const { return m_bHandshakeDone; }
    // Gives up a handshake that took too long.
    void FailTimeout();

    // Decrypts the next record when the last one was taken; its plaintext
    // stays inside TLS until Take copies it out.
    TlsStep Fill();
    // Plaintext decrypted and not yet taken.
    qsizetype Buffered() const;
    // Plaintext or records already read from the socket: the next Fill may
    // succeed without the socket becoming readable.
    bool HasPending() const;
    int Take(void* buffer, int length, bool peek);
    // The error a Reset or Failed read came to (errno value or TLS code).
    int ReadError() const { return m_nReadError; }

    // The whole buffer as one record; false with errno set when the session
    // can send no more.
    bool Write(const void* buffer, int length);
    // Sends buffered records; 0 when all went or the socket is full, else the
    // send's errno.
    int Flush();
    bool OutputPending() const { return m_nOutOffset < m_out.size(); }
    // Says close_notify, as far as the socket takes it at once.
    void Shutdown();

    // Why the handshake failed: a TLS code, its words recorded (RecordTlsFailure).
    int FailureCode() const { return m_nFailure; }
    TlsSessionDetails Details() const;
    const TlsContext& Context() const { return *m_pContext; }

private:
    static int VerifyCallback(int ok, X509_STORE_CTX* store);
    int Drain();
    void Fail(int sslError);
    void SetFailure(int code, const QString& text);
    QString VerifyFailureText(long result) const;
    QString FingerprintLine() const;

    std::shared_ptr<const TlsContext> m_pContext;
    SSL* m_pSsl = nullptr;
    BIO* m_pOutBio = nullptr;
    int m_fd;
    bool m_bHandshakeDone = false;
    bool m_bBroken = false;
    bool m_bShutdownSent = false;
    int m_nFailure = 0;
    int m_nReadError = 0;
    bool m_bPinMismatch = false;
    QByteArray m_peerSha256;
    // The name the peer's certificate is checked for.
    QString m_strCheckedName;
    std::vector<unsigned char> m_out;
    size_t m_nOutOffset = 0;
};
