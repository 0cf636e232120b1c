#pragma once

// TLS on loopback against real peers: certificates made for the test with
// the openssl tool, and openssl s_server/s_client or socat as the peer.
#include "network/net_helpers.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <string>

namespace korvo::test {

// Runs a short command to its end; its standard output, or a failed test.
inline QByteArray RunTool(const QString& program, const QStringList& arguments, const QString& folder = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(QStringLiteral("timeout"), QStringList{QStringLiteral("30"), program} + arguments);
    const bool finished = process.waitForFinished(40000);
    EXPECT_TRUE(finished && process.exitCode() == 0)
        << program.toStdString() << " " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
        << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

// A test CA; a server certificate from it for localhost, 127.0.0.1 and ::1;
// a client certificate from it; and a self-signed server certificate for
// the same names. Each NAME.pem has its key in NAME.key.
class TlsFiles
{
public:
    TlsFiles()
    {
        const QString names = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1");
        Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                 "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Korvo Test CA", "-addext",
                 "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"});
        Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                 "self.key", "-out", "self.pem", "-days", "2", "-subj", "/CN=localhost", "-addext", names});
        QFile ext(Path(QStringLiteral("server.ext")));
        ext.open(QIODevice::WriteOnly);
        ext.write(names.toLatin1() + "\nextendedKeyUsage=serverAuth\n");
        ext.close();
        QFile clientExt(Path(QStringLiteral("client.ext")));
        clientExt.open(QIODevice::WriteOnly);
        clientExt.write("extendedKeyUsage=clientAuth\n");
        clientExt.close();
        for (const char* name : {"server", "client"}) {
            const QString n = QString::fromLatin1(name);
            Openssl(
                {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                 n + ".key", "-out", n + ".csr", "-subj",
                 n == "server" ? QStringLiteral("/CN=localhost") : QStringLiteral("/CN=Korvo Test Client")});
            Openssl({"x509", "-req", "-in", n + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                     "-CAcreateserial", "-out", n + ".pem", "-days", "2", "-extfile", n + ".ext"});
        }
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Pem(const char* name) const { return Path(QString::fromLatin1(name) + QStringLiteral(".pem")); }
    QString Key(const char* name) const { return Path(QString::fromLatin1(name) + QStringLiteral(".key")); }
    // "AB:CD:...", as openssl x509 -fingerprint -sha256 shows it.
    QString Fingerprint(const char* name) const
    {
        const QString out = QString::fromLatin1(
            RunTool(QStringLiteral("openssl"),
                    {QStringLiteral("x509"), QStringLiteral("-in"), Pem(name), QStringLiteral("-noout"),
                     QStringLiteral("-fingerprint"), QStringLiteral("-sha256")}));
        return out.section(QLatin1Char('='), 1).trimmed();
    }

private:
    void Openssl(std::initializer_list<QString> arguments)
    {
        RunTool(QStringLiteral("openssl"), QStringList(arguments), m_dir.path());
    }

    QTemporaryDir m_dir;
};

// A peer program run under timeout, ended with the test.
class PeerProcess
{
public:
    ~PeerProcess() { Stop(); }
    // `bounded`: under timeout; else the program itself, for a test that
    // kills it.
    void Start(const QString& program, const QStringList& arguments, bool bounded = true)
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        if (bounded)
            process.start(QStringLiteral("timeout"), QStringList{QStringLiteral("60"), program} + arguments);
        else
            process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // A server: started, and then listening on the port.
    void Serve(const QString& program, const QStringList& arguments, unsigned short port, bool bounded = true)
    {
        Start(program, arguments, bounded);
        ASSERT_TRUE(WaitUntil([&] { return Listening(port) || process.state() == QProcess::NotRunning; },
                              std::chrono::seconds(10)));
        ASSERT_TRUE(Listening(port)) << process.readAllStandardError().toStdString();
    }
    void Stop()
    {
        // timeout hands the TERM on to the peer.
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }
    bool Finished(std::chrono::milliseconds within = std::chrono::seconds(20))
    {
        return WaitUntil([&] { return process.state() == QProcess::NotRunning; }, within);
    }
    // What the peer printed so far.
    QByteArray Output()
    {
        m_output += process.readAllStandardOutput();
        return m_output;
    }

    QProcess process;

private:
    QByteArray m_output;
};

// openssl s_server on the loopback port with the certificate NAME, extra
// options after; it serves one client after another.
inline QStringList SServer(const TlsFiles& files, const char* name, unsigned short port,
                           const QStringList& extra = {})
{
    return QStringList{QStringLiteral("s_server"),
                       QStringLiteral("-accept"),
                       QStringLiteral("127.0.0.1:%1").arg(port),
                       QStringLiteral("-cert"),
                       files.Pem(name),
                       QStringLiteral("-key"),
                       files.Key(name),
                       QStringLiteral("-quiet")} +
           extra;
}

// socat as a TLS server on the loopback port with the certificate NAME,
// relaying its one client to `address` (SYSTEM:..., EXEC:...).
inline QStringList SocatServer(const TlsFiles& files, const char* name, unsigned short port,
                               const QString& address)
{
    return {QStringLiteral("OPENSSL-LISTEN:%1,bind=127.0.0.1,reuseaddr,cert=%2,key=%3,verify=0")
                .arg(port)
                .arg(files.Pem(name), files.Key(name)),
            address};
}

} // namespace korvo::test
