// socat as an echo peer: the send pane goes out and comes back into the
// receive pane byte for byte, over TCP and over UDP.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "panes/hex_edit.h"
#include "progress/send_dlg.h"

#include <QProcess>
#include <QStandardPaths>

using namespace korvo::test;

namespace {

class SocatEcho : public SessionTest
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
        if (peer.state() != QProcess::NotRunning) {
            peer.kill();
            peer.waitForFinished(5000);
        }
        SessionTest::TearDown();
    }

    QProcess peer;
};

TEST_F(SocatEcho, SendPaneComesBackByteForByte)
{
    QByteArray pane(3000, '\0');
    for (qsizetype i = 0; i < pane.size(); ++i)
        pane[i] = static_cast<char>((i * 37 + i / 255) & 0xFF);

    for (const bool udp : {false, true}) {
        SCOPED_TRACE(udp ? "UDP" : "TCP");
        const unsigned short port = FreePort(udp ? SOCK_DGRAM : SOCK_STREAM);
        const QString listen =
            QString(udp ? "UDP4-LISTEN:%1,bind=127.0.0.1" : "TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr")
                .arg(port);
        peer.start("timeout", {"20", "socat", "-d", "-d", "-T", "10", listen, "PIPE"});
        ASSERT_TRUE(peer.waitForStarted(5000));
        QByteArray log;
        ASSERT_TRUE(WaitUntil([&] {
            log += peer.readAllStandardError();
            return log.contains("listening on");
        })) << log.constData();

        SetMode(udp ? MODE_UDP : MODE_TCP_CLIENT);
        SetFields("127.0.0.1", port, FreePort(SOCK_DGRAM));
        Click(IDC_BUTTON_CONNECT);
        ASSERT_TRUE(WaitUntil([&] { return Enabled(IDC_BUTTON_SEND); }));
        dlg->m_hexSend->SetData(static_cast<int>(pane.size()), pane.constData());
        dlg->SendCommand(IDC_BUTTON_CLEAR);
        Click(IDC_BUTTON_SEND);

        ASSERT_TRUE(WaitUntil([&] { return dlg->m_hexRecv->m_nLength == pane.size(); }));
        EXPECT_TRUE(QByteArray(reinterpret_cast<const char*>(dlg->m_hexRecv->m_pData), pane.size()) == pane);
        EXPECT_EQ("3000 / 3000", dlg->m_pSendDlg->GetDlgItemText(IDC_STATIC_SEND_COUNT));
        Click(IDC_BUTTON_CLOSE);
        peer.kill();
        peer.waitForFinished(5000);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
