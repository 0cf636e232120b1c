// The Telnet window against real Telnet servers from Debian, as a user would
// try them: the shell's prompt, a command and its output, line mode, exit.
#include "network/net_helpers.h"
#include "network/netns.h"
#include "network/session_fixture.h"
#include "network/telnet_window.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace korvo::test;

namespace {

class Telnetd : public SessionTest
{
protected:
    void TearDown() override
    {
        // timeout hands the TERM on to the server.
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(5000))
                server.kill();
        }
        SessionTest::TearDown();
    }
    void StartBusybox(unsigned short port)
    {
        Start(port, {QStringLiteral("busybox"), QStringLiteral("telnetd"), QStringLiteral("-F"),
                     QStringLiteral("-b"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-l"),
                     QStringLiteral("/bin/sh"), QStringLiteral("-f"), QStringLiteral("/dev/null")});
    }
    // inetd style: socat takes one connection and runs telnetd on it.
    void StartInetutils(unsigned short port)
    {
        Start(port,
              {QStringLiteral("socat"), QStringLiteral("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
               QStringLiteral("EXEC:\"/usr/sbin/telnetd -E /bin/sh\",nofork")});
    }
    void Start(unsigned short port, const QStringList& command)
    {
        server.start(QStringLiteral("timeout"), QStringList{QStringLiteral("60")} + command);
        ASSERT_TRUE(server.waitForStarted(5000));
        ASSERT_TRUE(WaitUntil([&] { return Listening(port); })) << "server not listening on " << port;
    }

    // Logs in, runs a command in character mode and one in line mode, exits.
    void UseShell(unsigned short port, bool checkTerm)
    {
        SetFields(QStringLiteral("127.0.0.1"), port, 1470);
        Click(IDC_BUTTON_TELNET);
        const bool ran = WhileTelnetOpen(*dlg, [&](CTelDlg& tel) {
            CTelEdit* term = tel.m_editTerminal;
            const auto shows = [&](const QString& text) {
                return WaitUntil([&] { return Shown(tel).contains(text); }, std::chrono::seconds(10));
            };
            ASSERT_TRUE(shows(QStringLiteral("# "))) << Shown(tel).toStdString();
            QTest::keyClicks(term, QStringLiteral("echo h''i"));
            QTest::keyClick(term, Qt::Key_Return);
            ASSERT_TRUE(shows(QStringLiteral("echo h''i\nhi\n"))) << Shown(tel).toStdString();

            ClickIn(tel, IDC_CHECK_LINEMODE);
            QTest::keyClicks(term, QStringLiteral("echo [$TERM]"));
            EXPECT_TRUE(Shown(tel).endsWith(QStringLiteral("echo [$TERM]")));
            QTest::keyClick(term, Qt::Key_Return);
            // The typed line shows twice: our echo, then the server's.
            const QRegularExpression output(checkTerm ? QStringLiteral("\\]\n\\[dump\\]\n# ")
                                                      : QStringLiteral("\\]\n\\[[^\\]\n]*\\]\n# "));
            EXPECT_TRUE(WaitUntil([&] { return Shown(tel).contains(output); }, std::chrono::seconds(10)))
                << Shown(tel).toStdString();

            QTest::keyClicks(term, QStringLiteral("exit"));
            QTest::keyClick(term, Qt::Key_Return);
            ASSERT_TRUE(shows(QStringLiteral("Connection closed\n"))) << Shown(tel).toStdString();
            EXPECT_TRUE(term->IsReadOnly());
            EXPECT_EQ(QStringLiteral("Connected"), Status());
            ClickIn(tel, IDC_BUTTON_CLOSE);
        });
        EXPECT_TRUE(ran);
        EXPECT_TRUE(WaitStatus(QStringLiteral("Ready")));
        EXPECT_TRUE(boxes.shown.empty());
    }

    QProcess server;
};

TEST_F(Telnetd, BusyboxShell)
{
    const unsigned short port = FreePort();
    StartBusybox(port);
    UseShell(port, false);
}

TEST_F(Telnetd, InetutilsAsksTheTerminalType)
{
    // The second session starts with the options the first one settled.
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        const unsigned short port = FreePort();
        server.waitForFinished(5000);
        StartInetutils(port);
        UseShell(port, true);
    }
}

TEST_F(Telnetd, BusyboxOnTheTelnetPort)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    StartBusybox(TELNET_PORT);
    UseShell(TELNET_PORT, false);
}

} // namespace
