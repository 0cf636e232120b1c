// Checksums and counters as a new user meets them: Modbus requests typed into
// the Messages window and a reply rule with a checksum, each heard by socat.
#include "network/net_helpers.h"
#include "network/session_fixture.h"
#include "panes/hex_edit.h"
#include "widgets/messages_window.h"
#include "widgets/replies_window.h"

#include <QProcess>
#include <QStandardPaths>

using namespace korvo::test;

namespace {

class FieldsSocat : public SessionTest
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("socat").isEmpty())
            GTEST_SKIP() << "socat is not installed";
        SessionTest::SetUp();
    }
    void TearDown() override
    {
        // timeout passes a TERM on to socat; a KILL would leave the listener behind.
        if (peer.state() != QProcess::NotRunning) {
            peer.terminate();
            if (!peer.waitForFinished(5000))
                peer.kill();
        }
        SessionTest::TearDown();
    }
    // socat with `arguments`, once it is listening when it listens.
    void StartPeer(const QStringList& arguments, bool listens)
    {
        peer.start("timeout", QStringList{"20", "socat", "-d", "-d"} + arguments);
        ASSERT_TRUE(peer.waitForStarted(5000));
        QByteArray log;
        if (listens) {
            ASSERT_TRUE(WaitUntil([&] {
                log += peer.readAllStandardError();
                return log.contains("listening on");
            })) << log.constData();
        }
    }
    QByteArray Heard(qsizetype length)
    {
        WaitUntil([&] {
            heard += peer.readAllStandardOutput();
            return heard.size() >= length;
        });
        return heard;
    }

    QByteArray ToSendPane(CMessagesDlg& win, int row)
    {
        win.m_panel->SelectRow(row);
        win.m_btnToSendPane->click();
        return QByteArray(reinterpret_cast<const char*>(dlg->m_hexSend->m_pData), dlg->m_hexSend->m_nLength);
    }

    QProcess peer;
    QByteArray heard;
};

TEST_F(FieldsSocat, ModbusRequestsArriveWithTheirCrcAndIdsThatCountFromZeroInEachSession)
{
    dlg->OnMessages();
    CMessagesDlg& win = *dlg->m_pMessagesDlg;
    AddMessageByDialog(win, "RTU read", ByteForm::Hex, "01 03 00 0A 00 02 {crc16-modbus}", 0);
    AddMessageByDialog(win, "TCP read", ByteForm::Hex, "{seq:u16be} 00 00 00 06 01 03 00 0A 00 02", 10, 3);
    ASSERT_EQ(2, win.m_model->Count());
    EXPECT_TRUE(boxes.shown.empty());

    const unsigned short port = FreePort();
    StartPeer({"-u", QStringLiteral("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port), "STDOUT"},
              true);
    const QByteArray rtu = QByteArray::fromHex("01 03 00 0A 00 02 E4 09");
    const auto tcp = [](int id) {
        QByteArray frame = QByteArray::fromHex("0000 0000 0006 01 03 000A 0002");
        frame[1] = static_cast<char>(id);
        return frame;
    };
    const QByteArray session = rtu + tcp(0) + tcp(1) + tcp(2);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        SetFields("127.0.0.1", port, FreePort());
        Click(IDC_BUTTON_CONNECT);
        ASSERT_TRUE(WaitStatus("Connected"));
        for (int row : {0, 1}) {
            win.m_panel->SelectRow(row);
            win.m_btnSend->click();
        }
        ASSERT_TRUE(WaitUntil([&] { return win.m_sender.IsIdle() && dlg->m_outgoing.Empty(); }));
        // To Send Pane copies what the next send would be.
        EXPECT_EQ(tcp(3), ToSendPane(win, 1));
        Click(IDC_BUTTON_CLOSE);
        EXPECT_EQ(tcp(0), ToSendPane(win, 1));
        EXPECT_EQ(rtu, ToSendPane(win, 0));
        EXPECT_EQ(session.repeated(round).toHex(' ').toStdString(),
                  Heard(round * session.size()).toHex(' ').toStdString());
    }
}

TEST_F(FieldsSocat, AReplyGoesOutWithItsCounterAndAChecksumOverIt)
{
    CRepliesDlg& w = OpenReplies(*dlg);
    AddRule(w, {"ack", 0, "PING", "PONG {seq:u8}{crc16-modbus}", 0});
    ASSERT_EQ(1, w.m_model->Count());
    w.m_checkAuto->click();
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QString(), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(QStringLiteral("Listening"), Status());

    StartPeer({"-", QStringLiteral("TCP4:127.0.0.1:%1").arg(port)}, false);
    peer.write("PING\nPING\n");
    // CRC-16/MODBUS of "PONG \0" and "PONG \1", low byte first.
    EXPECT_EQ(QByteArray("PONG \x00\xE7\x78PONG \x01\x26\xB8", 16).toHex(' ').toStdString(),
              Heard(16).toHex(' ').toStdString());
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
