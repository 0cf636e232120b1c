// Captures read back by a real analyser, tshark: TCP streams both ways byte
// for byte, over IPv4 and IPv6, as client and as server; UDP datagrams with
// their lengths and endpoints; a Telnet session decoded with its
// negotiation; and no warnings about the packets themselves.
#include "network/capture_fixture.h"
#include "network/net_helpers.h"
#include "network/telnet_window.h"

#include "panes/hex_edit.h"

#include <QRadioButton>

#include <atomic>
#include <thread>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

// A default read with every checksum checked: nothing malformed, no bad
// checksum, no TCP analysis warning.
void ExpectCleanRead(const QString& path)
{
    const QString text = Tshark(path, {QStringLiteral("-o"), QStringLiteral("ip.check_checksum:TRUE"),
                                       QStringLiteral("-o"), QStringLiteral("tcp.check_checksum:TRUE"),
                                       QStringLiteral("-o"), QStringLiteral("udp.check_checksum:TRUE"),
                                       QStringLiteral("-qz"), QStringLiteral("expert,warn")});
    EXPECT_FALSE(text.contains(QLatin1String("Errors ("))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("Warns ("))) << text.toStdString();
    const QString summary = Tshark(path, {});
    EXPECT_FALSE(summary.contains(QLatin1String("Malformed"))) << summary.left(2000).toStdString();
}

class CaptureTshark : public CaptureTest
{
};

TEST_F(CaptureTshark, TcpStreamsAreExactlyWhatWentEachWay)
{
    const struct
    {
        const char* name;
        int family;
        bool server;
        bool startDuringSession;
    } cases[] = {
        {"ipv4-client", AF_INET, false, false},
        {"ipv6-client-started-during-the-session", AF_INET6, false, true},
        {"ipv4-server", AF_INET, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Path(QString::fromLatin1(c.name) + QStringLiteral(".pcap"));
        if (!c.startDuringSession)
            StartCapture(path);
        Fd listener, peer;
        if (c.server) {
            SetMode(MODE_TCP_SERVER);
            const unsigned short port = FreePort();
            SetFields(QString(), 1470, port);
            Click(IDC_BUTTON_CONNECT);
            peer = ConnectTo(c.family, port);
            ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));
        } else {
            SetMode(MODE_TCP_CLIENT);
            listener = Listener(c.family);
            SetFields(QString::fromLatin1(c.family == AF_INET6 ? "::1" : "127.0.0.1"),
                      LocalPort(listener.get()), 1470);
            Click(IDC_BUTTON_CONNECT);
            ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
            peer = Fd(::accept(listener.get(), nullptr, nullptr));
        }
        if (c.startDuringSession)
            StartCapture(path);
        ASSERT_TRUE(Capturing());

        const std::string fromPeer = Pattern(3 << 20, 13), fromKorvo = Pattern(200000, 31);
        std::string atPeer;
        std::atomic<bool> peerDone{false};
        std::thread peerThread([&] {
            ::send(peer.get(), fromPeer.data(), fromPeer.size(), MSG_NOSIGNAL);
            char buffer[65536];
            ssize_t n;
            while (atPeer.size() < fromKorvo.size() && (n = ::recv(peer.get(), buffer, sizeof buffer, 0)) > 0)
                atPeer.append(buffer, static_cast<std::size_t>(n));
            peerDone = true;
        });
        const std::int64_t before = dlg->m_nRecvTotal;
        dlg->m_hexSend->SetData(static_cast<int>(fromKorvo.size()), fromKorvo.data());
        Click(IDC_BUTTON_SEND);
        EXPECT_TRUE(
            WaitUntil([&] { return peerDone && dlg->m_nRecvTotal - before == std::int64_t(fromPeer.size()); },
                      seconds(30)));
        peerThread.join();
        ASSERT_EQ(fromKorvo.size(), atPeer.size());
        peer.reset();
        ASSERT_TRUE(
            WaitUntil([&] { return dlg->m_nState == STATE_READY || dlg->m_nState == STATE_PEER_CLOSED; }));
        Click(IDC_BUTTON_CLOSE);
        StopCapture();

        const auto [first, second] = FollowFirstStream(path);
        const std::string& sent = c.server ? second : first;
        const std::string& received = c.server ? first : second;
        EXPECT_TRUE(sent == fromKorvo) << sent.size();
        EXPECT_TRUE(received == fromPeer) << received.size();
        ExpectCleanRead(path);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(CaptureTshark, UdpDatagramsKeepTheirLengthsAndEndpoints)
{
    SetMode(MODE_UDP);
    Fd peers[2];
    for (Fd& p : peers) {
        p = Fd(::socket(AF_INET, SOCK_DGRAM, 0));
        socklen_t length;
        const sockaddr_storage a = Loopback(AF_INET, 0, &length);
        ASSERT_EQ(0, ::bind(p.get(), reinterpret_cast<const sockaddr*>(&a), length));
    }
    const unsigned short remote = LocalPort(peers[0].get()), other = LocalPort(peers[1].get());
    const unsigned short local = FreePort(SOCK_DGRAM);
    SetFields(QStringLiteral("127.0.0.1"), remote, local);
    StartCapture(Path(QStringLiteral("udp.pcap")));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

    const struct
    {
        int peer;
        int length;
    } datagrams[] = {{0, 1}, {1, 7}, {0, 1400}, {1, 4096}};
    std::int64_t total = 0;
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, local, &length);
    for (const auto& d : datagrams) {
        const std::string bytes = Pattern(static_cast<std::size_t>(d.length), d.peer + 3);
        ::sendto(peers[d.peer].get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 length);
        total += d.length;
        // One at a time, so that their order in the file is known.
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == total; }));
    }
    dlg->m_hexSend->SetData(36, "0123456789abcdefghijklmnopqrstuvwxyz");
    Click(IDC_BUTTON_SEND);
    std::string echo;
    EXPECT_TRUE(WaitUntil([&] {
        ReadSome(peers[0].get(), &echo);
        return echo.size() == 36;
    }));
    Click(IDC_BUTTON_CLOSE);
    StopCapture();

    const QString path = Path(QStringLiteral("udp.pcap"));
    const QString fields =
        Tshark(path, {QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"),
                      QStringLiteral("ip.src"), QStringLiteral("-e"), QStringLiteral("udp.srcport"),
                      QStringLiteral("-e"), QStringLiteral("ip.dst"), QStringLiteral("-e"),
                      QStringLiteral("udp.dstport"), QStringLiteral("-e"), QStringLiteral("udp.length")});
    QString want;
    const QString line = QStringLiteral("127.0.0.1\t%1\t127.0.0.1\t%2\t%3\n");
    for (const auto& d : datagrams)
        want += line.arg(d.peer == 0 ? remote : other).arg(local).arg(8 + d.length);
    want += line.arg(local).arg(remote).arg(8 + 36);
    EXPECT_EQ(want, fields);
    ExpectCleanRead(path);
    EXPECT_TRUE(boxes.shown.empty());
}

// tshark's Telnet dissector keys on port 23; the loopback peer's port is
// named to it with -d.
TEST_F(CaptureTshark, TelnetIsDecodedWithItsNegotiation)
{
    Fd listener = Listener();
    const unsigned short port = LocalPort(listener.get());
    StartCapture(Path(QStringLiteral("telnet.pcap")));
    SetFields(QStringLiteral("127.0.0.1"), port, 1470);
    Click(IDC_BUTTON_TELNET);
    Fd peer;
    const bool ran = WhileTelnetOpen(*dlg, [&](CTelDlg& tel) {
        peer = Fd(::accept(listener.get(), nullptr, nullptr));
        // IAC DO TERMINAL-TYPE, IAC WILL ECHO, a prompt.
        const std::string offer = "\xff\xfd\x18\xff\xfb\x01login: ";
        ::send(peer.get(), offer.data(), offer.size(), 0);
        ASSERT_TRUE(WaitUntil([&] { return Shown(tel).contains(QStringLiteral("login: ")); }));
        // IAC WILL TERMINAL-TYPE, IAC DO ECHO.
        EXPECT_EQ("\xff\xfb\x18\xff\xfd\x01", PeerBytes(peer.get(), 6));
    });
    ASSERT_TRUE(ran);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Ready")));
    StopCapture();

    const QString decoded = Tshark(Path(QStringLiteral("telnet.pcap")),
                                   {QStringLiteral("-d"), QStringLiteral("tcp.port==%1,telnet").arg(port),
                                    QStringLiteral("-O"), QStringLiteral("telnet")});
    for (const char* line :
         {"Do Terminal Type", "Will Echo", "Will Terminal Type", "Do Echo", "Data: login: "})
        EXPECT_TRUE(decoded.contains(QLatin1String(line))) << line << "\n" << decoded.toStdString();
    ExpectCleanRead(Path(QStringLiteral("telnet.pcap")));
}

} // namespace
