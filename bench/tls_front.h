#pragma once

// TLS for the harnesses: socat terminates TLS in front of a harness's plain
// loopback peer, with a throwaway certificate, and the dialog speaks TLS to
// it, unverified, as a user testing a self-signed device would.
#include "harness_support.h"
#include "tls/tls_certificate.h"
#include "tls/tls_dlg.h"
#include "ui/korvo_dlg.h"

#include <QCheckBox>
#include <QProcess>
#include <QTemporaryDir>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace harness {

inline bool PortListening(unsigned short port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    // A connect would use up the one-shot relay: a bind tells as well.
    const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    ::close(fd);
    return taken;
}

// A throwaway self-signed certificate and its key, made by the openssl tool.
inline void MakeCertificate(const QString& cert, const QString& key)
{
    QProcess openssl;
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")});
    openssl.waitForFinished(30000);
}

class TlsFront
{
public:
    // Relays one TLS client on a free port to the plain peer on `backend`.
    explicit TlsFront(unsigned short backend)
    {
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        MakeCertificate(cert, key);
        ::close(ListenOnLoopback(m_port));
        // Big reads make full-size records, as a sender in a hurry does.
        m_socat.start(QStringLiteral("socat"),
                      {QStringLiteral("-b"), QStringLiteral("262144"),
                       QStringLiteral("OPENSSL-LISTEN:%1,bind=127.0.0.1,reuseaddr,cert=%2,key=%3,verify=0")
                           .arg(m_port)
                           .arg(cert, key),
                       QStringLiteral("TCP:127.0.0.1:%1").arg(backend)});
        m_socat.waitForStarted(5000);
        for (int i = 0; i < 500 && !PortListening(m_port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~TlsFront()
    {
        m_socat.terminate();
        if (!m_socat.waitForFinished(5000))
            m_socat.kill();
    }
    unsigned short Port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
    unsigned short m_port = 0;
};

// As LoopbackSender, over TLS: the sending thread encrypts, so that a flood
// over TLS has as many busy threads as one without (a relay in between
// would add one, which two cores feel). A server on OpenSSL with a
// throwaway certificate; it sends full records.
class TlsLoopbackSender
{
public:
    TlsLoopbackSender(std::string block, std::int64_t total) : m_block(std::move(block)), m_total(total)
    {
        m_listen = ListenOnLoopback(m_port);
        m_ctx = SSL_CTX_new(TLS_server_method());
        m_cert = MakeSelfSignedCertificate();
        SSL_CTX_use_certificate(m_ctx, m_cert.certificate.get());
        SSL_CTX_use_PrivateKey(m_ctx, m_cert.key.get());
        m_thread = std::thread([this] { Run(); });
    }
    ~TlsLoopbackSender()
    {
        m_thread.join();
        ::close(m_listen);
        SSL_CTX_free(m_ctx);
    }
    TlsLoopbackSender(const TlsLoopbackSender&) = delete;
    TlsLoopbackSender& operator=(const TlsLoopbackSender&) = delete;

    unsigned short Port() const { return m_port; }

private:
    void Run()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        SSL* ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            std::int64_t sent = 0;
            while (sent < m_total) {
                const int want = static_cast<int>(std::min<std::int64_t>(m_block.size(), m_total - sent));
                const int n = SSL_write(ssl, m_block.data(), want);
                if (n <= 0)
                    break;
                sent += n;
            }
            SSL_shutdown(ssl);
            char sink[256];
            while (SSL_read(ssl, sink, sizeof sink) > 0) {
            }
        }
        SSL_free(ssl);
        ::close(fd);
    }

    const std::string m_block;
    const std::int64_t m_total;
    int m_listen = -1;
    unsigned short m_port = 0;
    SSL_CTX* m_ctx = nullptr;
    SelfSignedCertificate m_cert;
    std::thread m_thread;
};

// The TLS switch on, nothing verified.
inline void UseTls(CKorvoDlg& dlg, bool on)
{
    dlg.m_actTls->trigger();
    dlg.m_pTlsDlg->m_checkVerify->setChecked(false);
    dlg.m_pTlsDlg->m_checkUse->setChecked(on);
    dlg.m_pTlsDlg->hide();
}

} // namespace harness
