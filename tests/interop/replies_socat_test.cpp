// Automatic replies as a new user tries them: a rule typed into the window,
// Reply automatically ticked, and socat as the peer over TCP and UDP.
#include "network/net_helpers.h"
#include "network/session_fixture.h"
#include "panes/hex_edit.h"
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

// A rule that answers what an echoing peer sends it back: the reply comes
// straight back as what sets the rule off again, a thousand times a second.
// The guard pauses it after about a hundred rounds and tells the user once.
TEST_F(RepliesSocat, ARuleAnsweringAnEchoingPeerIsPausedAsALoop)
{
    CRepliesDlg& w = OpenReplies(*dlg);
    AddRule(w, {"ping", 0, "PING", "PING", 0});
    w.m_checkAuto->click();
    const unsigned short port = FreePort();
    peers.push_back(std::make_unique<QProcess>());
    QProcess& echo = *peers.back();
    echo.start(QStringLiteral("timeout"),
               {QStringLiteral("20"), QStringLiteral("socat"),
                QStringLiteral("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
                QStringLiteral("EXEC:cat")});
    ASSERT_TRUE(echo.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return ConnectTo(AF_INET, port).get() >= 0; }));
    SetFields(QStringLiteral("127.0.0.1"), port, 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));

    dlg->m_hexSend->SetData(4, "PING");
    Click(IDC_BUTTON_SEND);
    ASSERT_TRUE(WaitUntil([&] { return w.m_model->At(0).limit.Paused(); }, std::chrono::seconds(10)));
    EXPECT_EQ(FiringLimit::PauseReason::Loop, w.m_model->At(0).limit.Reason());
    EXPECT_LE(w.m_model->At(0).matched, 2 * FiringLimit::LOOP_LIMIT);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    DrainEvents();
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_TRUE(boxes.LastText().contains("\"ping\"") && boxes.LastText().contains("came straight back"))
        << boxes.LastText().toStdString();
    // Quiet: the last reply came back, and nothing answered it.
    EXPECT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == 4 * (1 + w.m_model->At(0).matched); }));
}

} // namespace
