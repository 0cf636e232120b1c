#pragma once

// TLS for the harnesses: socat terminates TLS in front of a harness's plain
// loopback peer, with a throwaway certificate, and the dialog speaks TLS to
// it, unverified, as a user testing a self-signed device would.
#include "harness_support.h"
#include "tls/tls_dlg.h"
#include "ui/korvo_dlg.h"

#include <QCheckBox>
#include <QProcess>
#include <QTemporaryDir>

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

// The TLS switch on, nothing verified.
inline void UseTls(CKorvoDlg& dlg, bool on)
{
    dlg.m_actTls->trigger();
    dlg.m_pTlsDlg->m_checkVerify->setChecked(false);
    dlg.m_pTlsDlg->m_checkUse->setChecked(on);
    dlg.m_pTlsDlg->hide();
}

} // namespace harness
