// korvo-cli from outside, as a script or a CI job runs it: real peers on
// loopback, the window's own list files, every exit code, a capture that an
// interrupt leaves whole.
#include "interop/cli_run.h"
#include "messages/list_file.h"
#include "messages/saved_message.h"
#include "network/netns.h"
#include "replies/reply_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>

#include <csignal>

namespace korvo::test {
namespace {

QString ListPath(const char* name)
{
    const QString folder = QDir::homePath() + QStringLiteral("/.config/MerrowSystems");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QLatin1String(name);
}

// Writes the list as the window writes it.
void WriteList(const char* name, const char* kind, const QJsonArray& rows)
{
    const QString path = ListPath(name);
    QString error;
    ASSERT_TRUE(CListFile(path, QLatin1String(kind), 1).Write(path, rows, &error)) << error.toStdString();
}

SavedMessage Message(const char* name, const char* hex, int repeatMs = 0, int count = 0)
{
    SavedMessage m;
    m.name = QString::fromUtf8(name);
    m.data = ParseHexBytes(QString::fromLatin1(hex), BYTE_TEXT_MAX, FieldUse::Allowed).Template();
    m.repeatMs = repeatMs;
    m.count = count;
    return m;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Cli, ExitCodesSayWhatHappened)
{
    const unsigned short echo = FreePort();
    PeerProcess echoPeer;
    StartEchoPeer(echoPeer, echo);
    // A peer that says one thing and hangs up.
    const unsigned short closing = FreePort();
    PeerProcess closingPeer;
    closingPeer.Serve(QStringLiteral("socat"),
                      {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(closing),
                       QStringLiteral("SYSTEM:printf bye")},
                      closing);
    QFile bad(QDir::temp().filePath(QStringLiteral("korvo-cli-bad-%1.json").arg(echo)));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("{\"kind\": \"messages\", \"version\": 1, \"rows\": [{\"name\": 3}]}");
    bad.close();

    const QString e = QString::number(echo);
    const QString c = QString::number(closing);
    const QString refused = QString::number(FreePort());
    struct Case
    {
        QStringList arguments;
        int exit;
        const char* says;
    };
    const Case cases[] = {
        {{"connect", "127.0.0.1", e, "send", "PING\\r\\n", "expect", "ends", "PING\\r\\n", "within", "2000"},
         0,
         ""},
        {{"connect", "127.0.0.1", e, "send", "PING", "expect", "PONG", "within", "200"},
         1,
         "not received within 200 ms"},
        {{"--timeout", "300", "connect", "127.0.0.1", e, "wait", "5000"}, 1, "longer than --timeout 300 ms"},
        {{"connect", "127.0.0.1"}, 2, "argument 3: PORT expected"},
        {{"--bogus", "connect", "127.0.0.1", e}, 2, "bogus"},
        {{"--messages", bad.fileName(), "connect", "127.0.0.1", e, "message", "x"},
         2,
         "entry 1 is not valid"},
        {{"connect", "127.0.0.1", e, "message", "status"}, 2, "no such file"},
        {{"--ipv6", "connect", "127.0.0.1", e}, 2, "--ipv6 is for listen"},
        {{"connect", "127.0.0.1", refused}, 3, "Connection refused"},
        {{"connect", "127.0.0.1", c, "expect", "hello", "within", "3000"},
         3,
         "the peer closed the connection"},
        {{"listen", refused, "within", "200"}, 3, "no peer connected within 200 ms"},
        {{"connect", "127.0.0.1", c, "expect", "bye", "expect-close", "within", "3000"}, 0, ""},
    };
    for (const Case& k : cases) {
        const CliResult r = RunCli(k.arguments);
        EXPECT_EQ(k.exit, r.exit) << k.arguments.join(QLatin1Char(' ')).toStdString() << "\n"
                                  << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(k.says))
            << k.arguments.join(QLatin1Char(' ')).toStdString() << ": " << r.err.toStdString();
    }
    bad.remove();
}

TEST(Cli, ScriptThatFailsAtItsThirdStepReportsIt)
{
    const unsigned short port = FreePort();
    PeerProcess peer;
    StartEchoPeer(peer, port);
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("device.korvo"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("# the device echoes\n"
                              "connect 127.0.0.1 %1\n"
                              "send 'STATUS?\\r\\n'\n"
                              "expect starts 'STATUS OK' within 300\n"
                              "expect 'never'\n")
                   .arg(port)
                   .toUtf8());
    file.close();
    const QString junit = dir.filePath(QStringLiteral("report.xml"));

    const CliResult failed = RunCli({"--junit", junit, "-f", script});
    EXPECT_EQ(1, failed.exit) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.contains(QStringLiteral("line 4 (expect starts 'STATUS OK' within 300)").toUtf8()))
        << failed.err.toStdString();
    // What came is told, so the user sees why.
    EXPECT_TRUE(failed.err.contains("'STATUS?\\r\\n'")) << failed.err.toStdString();
    // ... in the form the step wanted it.
    const CliResult hex = RunCli({"--quiet", "connect", "127.0.0.1", QString::number(port), "send", "AB",
                                  "expect", "-x", "41 43", "within", "300"});
    EXPECT_EQ(1, hex.exit) << hex.err.toStdString();
    EXPECT_TRUE(hex.err.contains("came: '41 42'")) << hex.err.toStdString();
    const QByteArray report = ReadFile(junit);
    EXPECT_TRUE(report.contains("tests=\"2\" failures=\"1\" errors=\"0\" skipped=\"1\""))
        << report.toStdString();
    EXPECT_TRUE(report.contains("<failure message=")) << report.toStdString();

    // The same device, the right expectation, in JSON.
    const CliResult passed =
        RunCli({"--json", "--junit", junit, "connect", "127.0.0.1", QString::number(port), "send", "STATUS?",
                "expect", "equals", "STATUS?", "within", "2000"});
    EXPECT_EQ(0, passed.exit) << passed.err.toStdString();
    const QList<QByteArray> lines = passed.out.trimmed().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines.front().contains("\"event\":\"opened\"")) << lines.front().toStdString();
    EXPECT_TRUE(passed.out.contains("\"event\":\"expect\"") && passed.out.contains("\"passed\":true"));
    EXPECT_TRUE(lines.back().contains("\"event\":\"ended\"") && lines.back().contains("\"exit\":0"));
    EXPECT_TRUE(ReadFile(junit).contains("failures=\"0\""));
}

TEST(Cli, WindowsMessagesGoOutAsTheWindowSendsThem)
{
    // A Modbus/TCP request counting its transaction id, and an RTU frame.
    WriteList("messages.json", "messages",
              {MessageToJson(Message("read", "{seq:u16be} 00 00 00 06 01 03 00 0A 00 02", 20, 3)),
               MessageToJson(Message("rtu", "01 03 00 0A 00 02 {crc16-modbus}"))});
    QTemporaryDir dir;
    for (int run = 0; run < 2; ++run) {
        const unsigned short port = FreePort();
        const QString sink = dir.filePath(QStringLiteral("got%1").arg(run));
        PeerProcess peer;
        peer.Serve(QStringLiteral("socat"),
                   {QStringLiteral("-u"), QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                    QStringLiteral("CREATE:%1").arg(sink)},
                   port);
        const CliResult r = RunCli({"--quiet", "connect", "127.0.0.1", QString::number(port), "message",
                                    "read", "message", "rtu", "wait", "100"});
        EXPECT_EQ(0, r.exit) << r.err.toStdString();
        ASSERT_TRUE(peer.Finished());
        // Each run is a session of its own: the counter starts at 0 again.
        EXPECT_EQ(QByteArray::fromHex("0000000000060103000A0002"
                                      "0001000000060103000A0002"
                                      "0002000000060103000A0002"
                                      "0103000A0002E409"),
                  ReadFile(sink))
            << "run " << run;
    }
}

TEST(Cli, ServesByTheWindowsRulesUntilTerminated)
{
    ReplyRule ping;
    ping.name = QStringLiteral("ping");
    ping.pattern = "PING";
    ping.reply =
        ParseEscapedBytes(QStringLiteral("PONG {seq:u8}"), BYTE_TEXT_MAX, FieldUse::Allowed).Template();
    ReplyRule off = ping;
    off.enabled = false;
    off.pattern = "PONG";
    off.reply = ByteTemplate(QByteArray("loop"));
    WriteList("replies.json", "replies", {ReplyRuleToJson(ping), ReplyRuleToJson(off)});

    const unsigned short port = FreePort();
    PeerProcess server;
    server.Serve(CliProgram(), {"--quiet", "listen", QString::number(port), "serve"}, port, false);
    // Two clients one after another: the server takes the next when one leaves.
    for (int client = 0; client < 2; ++client) {
        const CliResult r = RunCli({"--quiet",
                                    "connect",
                                    "127.0.0.1",
                                    QString::number(port),
                                    "send",
                                    "PING",
                                    "expect",
                                    "-x",
                                    "50 4F 4E 47 20 00",
                                    "within",
                                    "2000",
                                    "send",
                                    "xPINGx",
                                    "expect",
                                    "-x",
                                    "50 4F 4E 47 20 01",
                                    "within",
                                    "2000",
                                    "expect-nothing",
                                    "within",
                                    "150"});
        EXPECT_EQ(0, r.exit) << "client " << client << ": " << r.err.toStdString();
    }
    ::kill(static_cast<pid_t>(server.process.processId()), SIGTERM);
    ASSERT_TRUE(server.Finished());
    EXPECT_EQ(0, server.process.exitCode()) << server.process.readAllStandardError().toStdString();
}

TEST(Cli, InterruptLeavesACaptureThatTsharkReads)
{
    const unsigned short port = FreePort();
    PeerProcess peer;
    StartEchoPeer(peer, port);
    QTemporaryDir dir;
    const QString pcap = dir.filePath(QStringLiteral("session.pcap"));
    PeerProcess cli;
    cli.Start(CliProgram(),
              {"--capture", pcap, "connect", "127.0.0.1", QString::number(port), "send", "hello capture",
               "expect", "capture", "wait", "20000"},
              false);
    ASSERT_TRUE(WaitUntil([&] { return cli.Output().contains("|hello capture"); }, std::chrono::seconds(10)));
    ASSERT_TRUE(
        WaitUntil([&] { return cli.Output().count("|hello capture") >= 2; }, std::chrono::seconds(5)));
    ::kill(static_cast<pid_t>(cli.process.processId()), SIGINT);
    ASSERT_TRUE(cli.Finished());
    EXPECT_EQ(130, cli.process.exitCode());
    const QByteArray follow =
        RunTool(QStringLiteral("tshark"), {"-r", pcap, "-q", "-z", "follow,tcp,ascii,0"});
    EXPECT_EQ(2, follow.count("hello capture")) << follow.toStdString();
}

TEST(Cli, UdpAndServerSessionsWithRealPeers)
{
    const unsigned short udp = FreePort(SOCK_DGRAM);
    PeerProcess udpPeer;
    udpPeer.Start(QStringLiteral("socat"), {QStringLiteral("UDP-RECVFROM:%1,bind=127.0.0.1,fork").arg(udp),
                                            QStringLiteral("EXEC:cat")});
    QThread::msleep(200);
    const CliResult u =
        RunCli({"--quiet", "udp", "0", "127.0.0.1", QString::number(udp), "send", "-x", "01 02 03 {xor8}",
                "expect", "equals", "-x", "01 02 03 00", "within", "2000"});
    EXPECT_EQ(0, u.exit) << u.err.toStdString();

    // Korvo as the server; socat says its piece and hangs up.
    const unsigned short port = FreePort();
    PeerProcess cli;
    cli.Serve(CliProgram(),
              {"listen", QString::number(port), "expect", "HELLO", "send", "WELCOME", "expect-close",
               "within", "5000"},
              port, false);
    PeerProcess client;
    client.Start(QStringLiteral("socat"), {QStringLiteral("SYSTEM:printf HELLO; sleep 0.5"),
                                           QStringLiteral("TCP:127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(cli.Finished());
    EXPECT_EQ(0, cli.process.exitCode()) << cli.process.readAllStandardError().toStdString();
    const QByteArray transcript = cli.Output();
    EXPECT_TRUE(transcript.contains("TCP server opened")) << transcript.toStdString();
    EXPECT_TRUE(transcript.contains("|WELCOME")) << transcript.toStdString();
}

TEST(Cli, MulticastGroupInAPrivateNamespace)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    const unsigned short port = FreePort(SOCK_DGRAM);
    // One korvo-cli joins the group and answers; the other sends to it.
    WriteList("replies.json", "replies", {[] {
                  ReplyRule r;
                  r.name = QStringLiteral("hello");
                  r.pattern = "HELLO";
                  r.reply = ByteTemplate(QByteArray("WORLD"));
                  return ReplyRuleToJson(r);
              }()});
    PeerProcess member;
    member.Start(
        CliProgram(),
        {"--quiet", "--multicast", "239.1.2.3", "udp", QString::number(port), "serve", "for", "5000"}, false);
    QThread::msleep(300);
    const CliResult r = RunCli({"--quiet", "udp", "0", "239.1.2.3", QString::number(port), "send", "HELLO",
                                "expect", "WORLD", "within", "3000"});
    EXPECT_EQ(0, r.exit) << r.err.toStdString();
    member.Stop();
}

TEST(Cli, LinksNoWidgetLibrary)
{
    const QByteArray libraries = RunTool(QStringLiteral("ldd"), {CliProgram()});
    EXPECT_TRUE(libraries.contains("libQt6Core")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Gui")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libQt6Widgets")) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains("libX11") || libraries.contains("libxcb")) << libraries.toStdString();
}

} // namespace
} // namespace korvo::test
