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

#include <functional>

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

    using M = CliCommandMode;
    const QString pin = QString::fromLatin1(QByteArray(32, '\xAB').toHex(':').toUpper());
    struct Case
    {
        M mode;
        const char* host;
        std::function<void(CliCommandSession&, TlsSettings&)> set;
        QString line;
    };
    const Case cases[] = {
        // A client takes its family from the host, not from the button.
        {M::TcpClient, "127.0.0.1", [](auto& s, auto&) { s.keepAlive = s.ipv6 = true; },
         "korvo-cli --keepalive connect 127.0.0.1 7000 message status"},
        {M::TcpServer, "10.1.0.1", [](auto& s, auto&) { s.ipv6 = true; },
         "korvo-cli --ipv6 listen 1470 message status"},
        // Neither keep-alive nor TLS is for UDP.
        {M::Udp, "::1",
         [&](auto& s, auto&) {
             s.keepAlive = s.tls = true;
             s.messagesFile = list;
         },
         "korvo-cli --messages '" + list + "' udp 1470 ::1 7000 message status"},
        {M::Udp, "", [](auto&, auto&) {}, "korvo-cli udp 1470 message status"},
        {M::Udp, "239.1.2.3", [](auto&, auto&) {},
         "korvo-cli --multicast 239.1.2.3 udp 1470 239.1.2.3 7000 message status"},
        // A key file left empty is the certificate's, as the window reads it.
        {M::TcpClient, "::1",
         [](auto& s, auto& t) {
             s.tls = t.useCaFile = true;
             t.caFile = QStringLiteral("/etc/ca.pem");
             t.clientCertFile = QStringLiteral("/home/me/client.pem");
             t.serverName = QStringLiteral("broker.example");
             t.minVersion = TlsMinVersion::Tls13;
             t.pin = QByteArray(32, '\xAB');
         },
         "korvo-cli --tls --tls-ca /etc/ca.pem --tls-cert /home/me/client.pem --tls-key /home/me/client.pem "
         "--tls-sni broker.example --tls-min 1.3 --tls-pin sha256:" +
             pin + " connect ::1 7000 message status"},
        {M::TcpClient, "127.0.0.1",
         [](auto& s, auto& t) {
             s.tls = t.useCaFile = true;
             t.verify = false;
             t.caFile = QStringLiteral("/etc/ca.pem");
         },
         "korvo-cli --tls --tls-insecure connect 127.0.0.1 7000 message status"},
        // A server sends no name.
        {M::TcpServer, "",
         [](auto& s, auto& t) {
             s.tls = true;
             t.serverName = QStringLiteral("ignored.example");
         },
         "korvo-cli --tls --tls-self-signed listen 1470 message status"},
        {M::TcpServer, "",
         [](auto& s, auto& t) {
             s.tls = t.useCaFile = true;
             t.selfSigned = false;
             t.certFile = QStringLiteral("server.pem");
             t.keyFile = QStringLiteral("server.key");
             t.caFile = QStringLiteral("clients.pem");
         },
         "korvo-cli --tls --tls-ca clients.pem --tls-cert server.pem --tls-key server.key listen 1470 "
         "message status"},
        // Unticked verification: a server then asks for no client certificate.
        {M::TcpServer, "",
         [](auto& s, auto& t) {
             s.tls = t.useCaFile = true;
             t.verify = t.selfSigned = false;
             t.certFile = QStringLiteral("server.pem");
             t.caFile = QStringLiteral("clients.pem");
         },
         "korvo-cli --tls --tls-cert server.pem --tls-key server.pem listen 1470 message status"},
    };
    for (const Case& c : cases) {
        CliCommandSession s;
        s.mode = c.mode;
        s.remoteHost = QString::fromLatin1(c.host);
        s.remotePort = 7000;
        s.localPort = 1470;
        c.set(s, s.tlsSettings);
        const QString line = CliCommandLine(s, QStringLiteral("status"));
        EXPECT_EQ(c.line, line);
        const QStringList words = ShellWords(line);
        EXPECT_EQ(CliCommandWords(s, QStringLiteral("status")), words) << line.toStdString();
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
