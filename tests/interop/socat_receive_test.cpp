// socat as the peer: its bytes arrive in the receive pane with the right
// count in every mode, and SAVE writes them back to disk byte for byte.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "panes/hex_edit.h"
#include "support/file_dialogs.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace korvo::test;

namespace {

class SocatPeer : public SessionTest {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("socat").isEmpty())
            GTEST_SKIP() << "socat is not installed";
        SessionTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        source = dir.filePath("source.bin");
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        data.resize(300000);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
        f.write(data);
    }
    void TearDown() override
    {
        if (peer.state() != QProcess::NotRunning) {
            peer.kill();
            peer.waitForFinished(5000);
        }
        SessionTest::TearDown();
    }
    void StartPeer(const QStringList& args)
    {
        peer.start("timeout", QStringList{"20", "socat"} + args);
        ASSERT_TRUE(peer.waitForStarted(5000));
    }
    bool WaitCounter(qsizetype n)
    {
        return WaitUntil([&] { return dlg->GetDlgItemText(IDC_STATIC_RECV_COUNT) == QString::number(n); },
                         std::chrono::seconds(15));
    }
    void ExpectSavedFileMatches(const QByteArray& expected)
    {
        FileDialogs files;
        files.Choose(dir.filePath("saved.bin"));
        dlg->SendCommand(IDC_BUTTON_SAVE_RECV);
        QFile saved(dir.filePath("saved.bin"));
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll() == expected);
    }

    QTemporaryDir dir;
    QString source;
    QByteArray data;
    QProcess peer;
};

} // namespace

TEST_F(SocatPeer, ClientReceivesAFileAndSavesItBack)
{
    const unsigned short port = FreePort();
    StartPeer({"-d", "-d", "-u", "OPEN:" + source, QString("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port)});
    // socat says when it listens.
    QByteArray log;
    ASSERT_TRUE(WaitUntil([&] {
        log += peer.readAllStandardError();
        return log.contains("listening on");
    })) << log.constData();
    SetFields("127.0.0.1", port, 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitCounter(data.size()));
    ExpectSavedFileMatches(data);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SocatPeer, ServerReceivesFromAConnectingPeer)
{
    const unsigned short port = FreePort();
    SetMode(MODE_TCP_SERVER);
    SetFields("127.0.0.1", 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_LISTENING, dlg->m_nState);
    StartPeer({"-u", "OPEN:" + source, QString("TCP4:127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(WaitCounter(data.size()));
    ExpectSavedFileMatches(data);
}

TEST_F(SocatPeer, UdpReceivesDatagrams)
{
    const unsigned short port = FreePort(SOCK_DGRAM);
    SetMode(MODE_UDP);
    SetFields("127.0.0.1", 9, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    const QByteArray line = "hello over udp\n";
    peer.start("timeout", {"10", "socat", "-u", "-", QString("UDP4-SENDTO:127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(peer.waitForStarted(5000));
    peer.write(line);
    peer.closeWriteChannel();
    ASSERT_TRUE(WaitCounter(line.size()));
    ExpectSavedFileMatches(line);
}
