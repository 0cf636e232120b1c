// The addresses a capture shows for datagrams: the real destination of what
// arrived (a group, the broadcast address, Korvo's own), and a link-local
// peer with its scope. Each inside a private network namespace.
#include "network/capture_fixture.h"
#include "network/netns.h"

#include <arpa/inet.h>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

// The source or destination of an IPv4 or IPv6 packet, as text.
std::string PacketAddress(const std::string& packet, bool destination)
{
    char text[INET6_ADDRSTRLEN] = {};
    if ((std::uint8_t(packet[0]) >> 4) == 6)
        inet_ntop(AF_INET6, packet.data() + (destination ? 24 : 8), text, sizeof text);
    else
        inet_ntop(AF_INET, packet.data() + (destination ? 16 : 12), text, sizeof text);
    return text;
}

using CaptureAddresses = CaptureTest;

// A socket bound to all addresses hears unicast, broadcast and its group's
// datagrams alike; each is in the file addressed as it was sent.
TEST_F(CaptureAddresses, AReceivedDatagramShowsWhereItWasSent)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    const unsigned short port = 5000;
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("239.255.0.1"), 1470, port);
    const QString path = Path(QStringLiteral("to.pcap"));
    StartCapture(path);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState) << boxes.LastText().toStdString();

    Fd sender(::socket(AF_INET, SOCK_DGRAM, 0));
    const int on = 1;
    ::setsockopt(sender.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const char* destinations[] = {"127.0.0.1", "239.255.0.1", "255.255.255.255"};
    std::int64_t total = 0;
    for (const char* to : destinations) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, to, &a.sin_addr);
        ASSERT_EQ(2, ::sendto(sender.get(), "hi", 2, 0, reinterpret_cast<sockaddr*>(&a), sizeof a)) << to;
        total += 2;
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == total; })) << to;
    }
    Click(IDC_BUTTON_CLOSE);
    StopCapture();

    const PcapContents pcap = ReadPcap(path);
    ASSERT_EQ(std::size(destinations), pcap.packets.size());
    for (std::size_t i = 0; i < pcap.packets.size(); ++i)
        EXPECT_EQ(destinations[i], PacketAddress(pcap.packets[i], true));
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
}

// A link-local peer (fe80::1 on the loopback here) is not ::1 in the file,
// either way.
TEST_F(CaptureAddresses, ALinkLocalPeerKeepsItsScope)
{
    KORVO_RUN_IN_NETNS("ip link set lo up && ip addr add fe80::1/64 dev lo nodad");
    Fd peer(::socket(AF_INET6, SOCK_DGRAM, 0));
    socklen_t length = sizeof(sockaddr_in6);
    sockaddr_storage a = Loopback(AF_INET6, 0, &length);
    auto& in6 = reinterpret_cast<sockaddr_in6&>(a);
    inet_pton(AF_INET6, "fe80::1", &in6.sin6_addr);
    in6.sin6_scope_id = 1; // the loopback
    ASSERT_EQ(0, ::bind(peer.get(), reinterpret_cast<const sockaddr*>(&a), length)) << strerror(errno);
    const unsigned short local = FreePort(SOCK_DGRAM, AF_INET6);
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("fe80::1%lo"), LocalPort(peer.get()), local);
    const QString path = Path(QStringLiteral("scope.pcap"));
    StartCapture(path);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState) << boxes.LastText().toStdString();

    in6.sin6_port = htons(local);
    ASSERT_EQ(2, ::sendto(peer.get(), "hi", 2, 0, reinterpret_cast<const sockaddr*>(&a), length));
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == 2; }));
    dlg->m_hexSend->SetData(3, "abc");
    Click(IDC_BUTTON_SEND);
    std::string got;
    ASSERT_TRUE(WaitUntil([&] {
        ReadSome(peer.get(), &got);
        return got == "abc";
    }));
    Click(IDC_BUTTON_CLOSE);
    StopCapture();

    const PcapContents pcap = ReadPcap(path);
    ASSERT_EQ(2u, pcap.packets.size());
    for (const std::string& packet : pcap.packets) {
        EXPECT_EQ("fe80::1", PacketAddress(packet, true));
        EXPECT_EQ("fe80::1", PacketAddress(packet, false));
    }
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
}

} // namespace
