// Automatic replies as a new user tries them: a rule typed into the window,
// Reply automatically ticked, and socat as the peer over TCP and UDP.
#include "network/net_helpers.h"
#include "network/session_fixture.h"
#include "widgets/replies_window.h"

#include <QProcess>

#include <memory>
#include <vector>

using namespace korvo::test;

namespace {

class RepliesSocat : public SessionTest
{
protected:
    void TearDown() override
    {
        for (auto& peer : peers) {
            if (peer->state() != QProcess::NotRunning) {
                peer->terminate();
                if (!peer->waitForFinished(5000))
                    peer->kill();
            }
        }
        SessionTest::TearDown();
    }
    // socat between its standard input and output and `address`, typing `line`.
    QProcess& Peer(const QString& address, const QByteArray& line)
    {
        peers.push_back(std::make_unique<QProcess>());
        QProcess& peer = *peers.back();
        peer.start(QStringLiteral("timeout"),
                   {QStringLiteral("20"), QStringLiteral("socat"), QStringLiteral("-"), address});
        EXPECT_TRUE(peer.waitForStarted(5000));
        peer.write(line);
        return peer;
    }
    static QByteArray Answer(QProcess& peer, qsizetype length)
    {
        QByteArray got;
        WaitUntil([&] {
            got += peer.readAllStandardOutput();
            return got.size() >= length;
        });
        return got;
    }

    std::vector<std::unique_ptr<QProcess>> peers;
};

TEST_F(RepliesSocat, PingGetsPongOverTcpAndEachUdpClientItsOwn)
{
    CRepliesDlg& w = OpenReplies(*dlg);
    AddRule(w, {"ping", 0, "PING", "PONG\\r\\n", 0});
    w.m_checkAuto->click();

    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QString(), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(QStringLiteral("Listening"), Status());
    QProcess& client = Peer(QStringLiteral("TCP4:127.0.0.1:%1").arg(port), "PING\n");
    EXPECT_EQ("PONG\r\n", Answer(client, 6));
    EXPECT_TRUE(WaitUntil([&] {
        return w.m_model->data(w.m_model->index(0, REPLY_COL_MATCHED), Qt::DisplayRole).toString() == "1";
    }));
    Click(IDC_BUTTON_CLOSE);

    SetMode(MODE_UDP);
    const unsigned short udp = FreePort(SOCK_DGRAM);
    SetFields(QStringLiteral("127.0.0.1"), FreePort(SOCK_DGRAM), udp);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    const QString address = QStringLiteral("UDP4:127.0.0.1:%1").arg(udp);
    QProcess& first = Peer(address, "PING from the first\n");
    QProcess& second = Peer(address, "the second: PING\n");
    EXPECT_EQ("PONG\r\n", Answer(first, 6));
    EXPECT_EQ("PONG\r\n", Answer(second, 6));
    EXPECT_EQ(3, w.m_model->At(0).matched);
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
