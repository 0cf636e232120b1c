// The command that Copy as Command builds: the line for each kind of session,
// that korvo-cli itself takes it whole, and that a real shell reads any
// message name back unchanged.
#include "cli/cli_prepare.h"
#include "messages/cli_command.h"
#include "messages/list_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// The words a POSIX shell makes of `line`.
QStringList ShellWords(const QString& line)
{
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf '%s\\0' ") + line});
    EXPECT_TRUE(sh.waitForFinished(10000));
    QStringList words = QString::fromUtf8(sh.readAllStandardOutput()).split(QChar(0));
    words.removeLast();
    return words;
}

void WriteMessages(const QString& path, const QStringList& names)
{
    QJsonArray rows;
    for (const QString& name : names) {
        SavedMessage m;
        m.name = name;
        m.data = ByteTemplate(QByteArray("x"));
        rows.append(MessageToJson(m));
    }
    QDir().mkpath(QFileInfo(path).path());
    QString error;
    ASSERT_TRUE(CListFile(path, QStringLiteral("messages"), MESSAGES_FILE_VERSION).Write(path, rows, &error))
        << error.toStdString();
}

TEST(CliCommand, EachSessionGivesTheLineKorvoCliRunsAsIs)
{
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("bench lists/messages.json"));
    WriteMessages(list, {QStringLiteral("status")});
    WriteMessages(CListFile::BesideProfile(QStringLiteral("messages.json")), {QStringLiteral("status")});

    const auto session = [](CliCommandMode mode, const char* host, unsigned remote, unsigned local) {
        CliCommandSession s;
        s.mode = mode;
        s.remoteHost = QString::fromLatin1(host);
        s.remotePort = remote;
        s.localPort = local;
        return s;
    };
    using M = CliCommandMode;
    struct Case
    {
        CliCommandSession session;
        QString line;
    };
    std::vector<Case> cases;
    {
        CliCommandSession s = session(M::TcpClient, "127.0.0.1", 7000, 1470);
        s.keepAlive = true;
        // A client takes its family from the host, not from the button.
        s.ipv6 = true;
        cases.push_back({s, "korvo-cli --keepalive connect 127.0.0.1 7000 message status"});
    }
    {
        CliCommandSession s = session(M::TcpServer, "10.1.0.1", 7000, 1470);
        s.ipv6 = true;
        cases.push_back({s, "korvo-cli --ipv6 listen 1470 message status"});
    }
    {
        CliCommandSession s = session(M::Udp, "::1", 7000, 1470);
        // Neither keep-alive nor TLS is for UDP.
        s.keepAlive = true;
        s.tls = true;
        s.messagesFile = list;
        cases.push_back({s, "korvo-cli --messages '" + list + "' udp 1470 ::1 7000 message status"});
    }
    cases.push_back({session(M::Udp, "", 7000, 1470), "korvo-cli udp 1470 message status"});
    cases.push_back({session(M::Udp, "239.1.2.3", 5000, 5001),
                     "korvo-cli --multicast 239.1.2.3 udp 5001 239.1.2.3 5000 message status"});
    {
        CliCommandSession s = session(M::TcpClient, "::1", 8883, 1470);
        s.tls = true;
        s.tlsSettings.useCaFile = true;
        s.tlsSettings.caFile = QStringLiteral("/etc/ca.pem");
        // A key file left empty is the certificate's, as the window reads it.
        s.tlsSettings.clientCertFile = QStringLiteral("/home/me/client.pem");
        s.tlsSettings.serverName = QStringLiteral("broker.example");
        s.tlsSettings.minVersion = TlsMinVersion::Tls13;
        s.tlsSettings.pin = QByteArray(32, '\xAB');
        cases.push_back({s, "korvo-cli --tls --tls-ca /etc/ca.pem --tls-cert /home/me/client.pem --tls-key "
                            "/home/me/client.pem --tls-sni broker.example --tls-min 1.3 --tls-pin sha256:" +
                                QString::fromLatin1(QByteArray(32, '\xAB').toHex(':').toUpper()) +
                                " connect ::1 8883 message status"});
    }
    {
        CliCommandSession s = session(M::TcpClient, "127.0.0.1", 8883, 1470);
        s.tls = true;
        s.tlsSettings.verify = false;
        s.tlsSettings.useCaFile = true;
        s.tlsSettings.caFile = QStringLiteral("/etc/ca.pem");
        cases.push_back({s, "korvo-cli --tls --tls-insecure connect 127.0.0.1 8883 message status"});
    }
    {
        // The throwaway certificate; no name to send as a server.
        CliCommandSession s = session(M::TcpServer, "", 0, 8883);
        s.tls = true;
        s.tlsSettings.serverName = QStringLiteral("ignored.example");
        cases.push_back({s, "korvo-cli --tls --tls-self-signed listen 8883 message status"});
    }
    {
        CliCommandSession s = session(M::TcpServer, "", 0, 8883);
        s.tls = true;
        s.tlsSettings.selfSigned = false;
        s.tlsSettings.certFile = QStringLiteral("server.pem");
        s.tlsSettings.keyFile = QStringLiteral("server.key");
        s.tlsSettings.useCaFile = true;
        s.tlsSettings.caFile = QStringLiteral("clients.pem");
        cases.push_back({s, "korvo-cli --tls --tls-ca clients.pem --tls-cert server.pem --tls-key server.key "
                            "listen 8883 message status"});
        // Unticked verification: a server then asks for no client certificate.
        s.tlsSettings.verify = false;
        cases.push_back(
            {s, "korvo-cli --tls --tls-cert server.pem --tls-key server.key listen 8883 message status"});
    }

    for (const Case& c : cases) {
        const QString line = CliCommandLine(c.session, QStringLiteral("status"));
        EXPECT_EQ(c.line, line);
        const QStringList words = ShellWords(line);
        EXPECT_EQ(CliCommandWords(c.session, QStringLiteral("status")), words) << line.toStdString();
        // korvo-cli checks everything it can before opening the session.
        const CliOptionsParse parse = ParseCliOptions(words);
        ASSERT_TRUE(parse.options) << line.toStdString() << ": " << parse.error.toStdString();
        const CliRunPlan plan = PrepareCliRun(*parse.options);
        EXPECT_TRUE(plan.error.isEmpty()) << line.toStdString() << ": " << plan.error.toStdString();
    }
}

TEST(CliCommand, AnyMessageNameComesThroughTheShellUnchanged)
{
    const QStringList names = {
        QStringLiteral("status"),       QStringLiteral("it's"),        QStringLiteral("'"),
        QStringLiteral("''"),           QStringLiteral("two  spaces"), QStringLiteral("$HOME"),
        QStringLiteral("`id`"),         QStringLiteral("$(id)"),       QStringLiteral("back\\slash"),
        QStringLiteral("new\nline"),    QStringLiteral("tab\there"),   QStringLiteral(""),
        QStringLiteral("-x"),           QStringLiteral("*"),           QStringLiteral("~"),
        QStringLiteral("a=b"),          QStringLiteral("#1"),          QStringLiteral("!"),
        QStringLiteral("\"q\""),        QStringLiteral("a;b|c&d"),     QStringLiteral("send"),
        QString::fromUtf8("상태 조회"), QString::fromUtf8("查询"),
    };
    CliCommandSession s;
    s.remoteHost = QStringLiteral("127.0.0.1");
    s.remotePort = 7000;
    for (const QString& name : names) {
        const QString line = CliCommandLine(s, name);
        const QStringList words = ShellWords(line);
        ASSERT_EQ(6, words.size()) << line.toStdString();
        EXPECT_EQ(name, words.last()) << line.toStdString();
    }
}

} // namespace
