// The session against socat as the peer, as a user would try it.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include <QProcess>

using namespace korvo::test;

namespace {

class SessionSocat : public SessionTest
{
protected:
    void TearDown() override
    {
        // timeout hands the TERM on to socat; killing timeout itself would
        // leave socat behind.
        if (peer.state() != QProcess::NotRunning) {
            peer.terminate();
            if (!peer.waitForFinished(5000))
                peer.kill();
        }
        SessionTest::TearDown();
    }
    void StartPeer(const QStringList& arguments)
    {
        if (peer.state() != QProcess::NotRunning)
            peer.waitForFinished(5000);
        peer.start(QStringLiteral("timeout"),
                   QStringList{QStringLiteral("20"), QStringLiteral("socat")} + arguments);
        ASSERT_TRUE(peer.waitForStarted(5000));
    }
    bool Contains(const QString& status) const
    {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }

    QProcess peer;
};

TEST_F(SessionSocat, ClientToSocatServer)
{
    const unsigned short port = FreePort();
    // The server greets every client and hangs up.
    StartPeer({QStringLiteral("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
               QStringLiteral("SYSTEM:printf hello")});
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }));

    SetFields(QStringLiteral("127.0.0.1"), port, 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitUntil([&] { return Contains(QStringLiteral("Connected")) && Status() == "Ready"; }));
    EXPECT_EQ((std::vector<QString>{"Connecting", "Connected", "Ready"}), statuses);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SessionSocat, SocatClientsToServer)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(QStringLiteral("Listening"), Status());

    for (int round = 0; round < 2; ++round) {
        statuses.clear();
        const unsigned short source = FreePort();
        StartPeer({QStringLiteral("-u"), QStringLiteral("SYSTEM:printf hi"),
                   QStringLiteral("TCP4:127.0.0.1:%1,sourceport=%2").arg(port).arg(source)});
        const QString connected = QStringLiteral("Connected[127.0.0.1 : %1]").arg(source);
        ASSERT_TRUE(WaitUntil([&] { return Contains(connected) && Status() == "Listening"; })) << round;
        EXPECT_EQ((std::vector<QString>{connected, "Listening"}), statuses);
        ASSERT_TRUE(WaitUntil([&] { return peer.state() == QProcess::NotRunning; }));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SessionSocat, IPv6ClientToSocatServer)
{
    const unsigned short port = FreePort(SOCK_STREAM, AF_INET6);
    StartPeer(
        {QStringLiteral("TCP6-LISTEN:%1,bind=[::1],reuseaddr").arg(port), QStringLiteral("SYSTEM:cat")});
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }));
    SetFields(QStringLiteral("::1"), port, 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
    Click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(QStringLiteral("Ready"), Status());
}

} // namespace
