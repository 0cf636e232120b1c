// What a peer sends lands in the receive pane and is counted, in every mode.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "panes/hex_edit.h"

#include <QLabel>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <thread>

using namespace korvo::test;

namespace {

class ReceivePath : public SessionTest
{
protected:
    // Connects the dialog as a TCP client to a loopback listener and returns the peer.
    Fd ConnectPeer()
    {
        listener = Listener(AF_INET);
        SetFields("127.0.0.1", LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        Fd peer(::accept(listener.get(), nullptr, nullptr));
        EXPECT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_CONNECTED; }));
        return peer;
    }
    QString Counter() const { return dlg->GetDlgItemText(IDC_STATIC_RECV_COUNT); }
    bool WaitCounter(const QString& text)
    {
        return WaitUntil([&] { return Counter() == text; }, std::chrono::seconds(20));
    }
    QByteArray PaneBytes() const
    {
        return QByteArray(reinterpret_cast<const char*>(dlg->m_hexRecv->m_pData), dlg->m_hexRecv->m_nLength);
    }
    static int Pending(int fd)
    {
        int pending = -1;
        ioctl(fd, FIONREAD, &pending);
        return pending;
    }

    Fd listener;
};

QByteArray Pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    return data;
}

Fd UdpSocket(unsigned short* port)
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(AF_INET, 0, &length);
    bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), length);
    *port = LocalPort(fd.get());
    return fd;
}

void SendDatagram(int fd, unsigned short port, const QByteArray& data)
{
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, port, &length);
    ASSERT_EQ(data.size(), ::sendto(fd, data.constData(), static_cast<size_t>(data.size()), 0,
                                    reinterpret_cast<const sockaddr*>(&to), length));
}

} // namespace

// The pane shows the stream as a plain reader gets it: an urgent byte is
// not part of it (only the Telnet window reads it in band).
TEST_F(ReceivePath, UrgentByteIsNotForwarded)
{
    Fd peer = ConnectPeer();
    ASSERT_EQ(2, ::send(peer.get(), "ab", 2, 0));
    ASSERT_EQ(1, ::send(peer.get(), "!", 1, MSG_OOB));
    ASSERT_EQ(2, ::send(peer.get(), "cd", 2, 0));
    EXPECT_TRUE(WaitCounter(QStringLiteral("4")));
    EXPECT_EQ(QByteArray("abcd"), PaneBytes());
}

TEST_F(ReceivePath, BurstIsShownAndCountedToTheLastLine)
{
    Fd peer = ConnectPeer();
    const QByteArray burst = Pattern(10000);
    ASSERT_EQ(burst.size(), ::send(peer.get(), burst.constData(), static_cast<size_t>(burst.size()), 0));
    ASSERT_TRUE(WaitCounter("10000"));
    EXPECT_EQ(burst, PaneBytes());
    EXPECT_EQ(10000, dlg->m_nRecvTotal);
    // 625 lines; the newest is the last row shown.
    const QStringList rows = dlg->m_hexRecv->RenderedText().split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_TRUE(rows.last().startsWith("00002700")) << rows.last().toStdString();
    EXPECT_EQ("0", QString::number(Pending(dlg->m_sock.m_hSocket)));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ReceivePath, FullPaneKeepsTheNewestBytesAndCountsThemAll)
{
    Fd peer = ConnectPeer();
    const QByteArray stream = Pattern(1048576 + 16);
    std::thread writer(
        [&] { ::send(peer.get(), stream.constData(), static_cast<size_t>(stream.size()), 0); });
    const bool arrived = WaitCounter("1048592");
    writer.join();
    ASSERT_TRUE(arrived) << Counter().toStdString();
    EXPECT_EQ(stream.mid(16), PaneBytes());
    EXPECT_EQ(stream.mid(16, 16), PaneBytes().left(16));
    EXPECT_EQ(1048592, dlg->m_nRecvTotal);
}

TEST_F(ReceivePath, UdpDatagramsFromAnySenderAndTheOversizedOne)
{
    const unsigned short local = FreePort(SOCK_DGRAM);
    unsigned short portA = 0, portB = 0;
    Fd a = UdpSocket(&portA);
    Fd b = UdpSocket(&portB);
    SetMode(MODE_UDP);
    SetFields("127.0.0.1", portA, local);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

    SendDatagram(a.get(), local, "from A");
    ASSERT_TRUE(WaitCounter("6"));
    SendDatagram(b.get(), local, "and B");
    ASSERT_TRUE(WaitCounter("11"));
    EXPECT_EQ("from Aand B", PaneBytes());

    // Longer than one block: reported, and nothing of it is kept or counted.
    SendDatagram(a.get(), local, Pattern(5000));
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    EXPECT_EQ("Message too long", boxes.shown[0].text);
    EXPECT_EQ("11", Counter());
    EXPECT_EQ("from Aand B", PaneBytes());

    // A datagram of exactly one block still fits, and the session goes on.
    SendDatagram(b.get(), local, Pattern(4096));
    ASSERT_TRUE(WaitCounter("4107"));
    EXPECT_EQ(1u, boxes.shown.size());
}

TEST_F(ReceivePath, ReadErrorsAndEmptyEvents)
{
    Fd peer = ConnectPeer();
    // An event with nothing to read is no error: no message, nothing counted.
    dlg->OnSocketReceive(&dlg->m_sock, 0);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ("0", Counter());

    // A real read error: one message per failed read, the counter unchanged.
    ASSERT_EQ(3, ::send(peer.get(), "abc", 3, 0));
    ASSERT_TRUE(WaitCounter("3"));
    CLumSock closed;
    dlg->OnSocketReceive(&closed, 0);
    dlg->OnSocketReceive(&closed, 0);
    ASSERT_EQ(2u, boxes.shown.size());
    EXPECT_EQ(QString::fromLocal8Bit(strerror(EBADF)), boxes.shown[0].text);
    EXPECT_EQ("3", Counter());
    EXPECT_EQ(STATE_CONNECTED, dlg->m_nState);
}

TEST_F(ReceivePath, TelnetOwnsTheSocketThePaneStaysAlone)
{
    Fd peer = ConnectPeer();
    ASSERT_EQ(2, ::send(peer.get(), "ab", 2, 0));
    ASSERT_TRUE(WaitCounter("2"));
    dlg->m_bTelnetActive = true;
    ASSERT_EQ(4, ::send(peer.get(), "tele", 4, 0));
    // The bytes are taken off the socket, but not shown or counted here.
    ASSERT_TRUE(WaitUntil([&] { return Pending(dlg->m_sock.m_hSocket) == 0; }));
    DrainEvents();
    EXPECT_EQ("2", Counter());
    EXPECT_EQ("ab", PaneBytes());
    dlg->m_bTelnetActive = false;
}

TEST_F(ReceivePath, ClearWhileConnectedCountsAgainFromZero)
{
    Fd peer = ConnectPeer();
    ASSERT_EQ(5, ::send(peer.get(), "12345", 5, 0));
    ASSERT_TRUE(WaitCounter("5"));
    Click(IDC_BUTTON_CLEAR);
    EXPECT_EQ("0", Counter());
    EXPECT_EQ(0, dlg->m_hexRecv->m_nLength);
    ASSERT_EQ(3, ::send(peer.get(), "xyz", 3, 0));
    ASSERT_TRUE(WaitCounter("3"));
    EXPECT_EQ("xyz", PaneBytes());
    EXPECT_EQ(STATE_CONNECTED, dlg->m_nState);
}

// Mended: every block wrote all fields back, so what the user was typing was
// replaced many times a second while data arrived. Only the user's commands
// write the fields back.
TEST_F(ReceivePath, ArrivingDataLeavesUntakenFieldEditsAlone)
{
    Fd peer = ConnectPeer();
    dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, "99");
    ASSERT_EQ(1, ::send(peer.get(), "!", 1, 0));
    ASSERT_TRUE(WaitCounter("1"));
    EXPECT_EQ("99", dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_EQ("1", dlg->GetDlgItem(IDC_STATIC_RECV_COUNT)->accessibleName());

    Click(IDC_BUTTON_CLEAR);
    EXPECT_EQ("36", dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_EQ("0", dlg->GetDlgItem(IDC_STATIC_RECV_COUNT)->accessibleName());
}

TEST_F(ReceivePath, CounterGoesPastTwoGigabytes)
{
    // Counted in 64 bits: a long session never wraps into negative numbers.
    Fd peer = ConnectPeer();
    dlg->m_nRecvTotal = 0x7FFFFFFFLL - 1;
    ASSERT_EQ(4, ::send(peer.get(), "wrap", 4, 0));
    ASSERT_TRUE(WaitCounter("2147483650"));
    EXPECT_EQ(2147483650LL, dlg->m_nRecvTotal);
}
