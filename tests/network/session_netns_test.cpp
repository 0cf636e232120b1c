// Sessions that would leave the machine on its real network: multicast, the
// limited broadcast and an unreachable network, each inside a private
// namespace of its own.
#include "network/net_helpers.h"
#include "network/netns.h"
#include "network/session_fixture.h"

#include <sys/ioctl.h>

#include <cstring>

using namespace korvo::test;

namespace {

using SessionNetns = SessionTest;

TEST_F(SessionNetns, MulticastJoinsGroupOnLocalPort)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    const unsigned short port = 5000;
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("239.255.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    EXPECT_EQ(QStringLiteral("Ready"), Status());
    EXPECT_TRUE(Enabled(IDC_BUTTON_CLOSE));

    const int fd = dlg->m_sock.m_hSocket;
    EXPECT_EQ(8, IntOption(fd, IPPROTO_IP, IP_MULTICAST_TTL));
    EXPECT_EQ(0, IntOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP));
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    EXPECT_EQ(htonl(INADDR_ANY), bound.sin_addr.s_addr);
    EXPECT_EQ(port, ntohs(bound.sin_port));

    // A datagram to the group on the local port arrives: the group is joined.
    Fd sender(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(port);
    inet_pton(AF_INET, "239.255.0.1", &group.sin_addr);
    ASSERT_EQ(2, ::sendto(sender.get(), "hi", 2, 0, reinterpret_cast<sockaddr*>(&group), sizeof group));
    ASSERT_TRUE(Readable(fd));

    Click(IDC_BUTTON_CLOSE);
    EXPECT_FALSE(dlg->m_sock.IsOpen());
}

TEST_F(SessionNetns, LimitedBroadcastOpensUnicastSocketThatMayBroadcast)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("255.255.255.255"), 5002, 5001);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    const int fd = dlg->m_sock.m_hSocket;
    EXPECT_EQ(1, IntOption(fd, SOL_SOCKET, SO_BROADCAST));
    EXPECT_EQ(5001, LocalPort(fd));

    Fd receiver(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(5002);
    ASSERT_EQ(0, ::bind(receiver.get(), reinterpret_cast<sockaddr*>(&any), sizeof any));
    sockaddr_in all{};
    all.sin_family = AF_INET;
    all.sin_port = htons(5002);
    all.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    ASSERT_EQ(2, dlg->m_sock.SendTo("bc", 2, reinterpret_cast<sockaddr*>(&all), sizeof all))
        << strerror(errno);
    ASSERT_TRUE(Readable(receiver.get()));
    std::string got;
    EXPECT_EQ(2, ReadSome(receiver.get(), &got));
    EXPECT_EQ("bc", got);
}

TEST_F(SessionNetns, ConnectFailingAtOnceNeverShowsConnecting)
{
    KORVO_RUN_IN_NETNS(NETNS_EMPTY);
    SetFields(QStringLiteral("127.0.0.1"), 1470, 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(QString::fromLocal8Bit(strerror(ENETUNREACH)), boxes.LastText());
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(STATE_READY, dlg->m_nState);
    EXPECT_FALSE(dlg->m_sock.IsOpen());
    EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
    EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
}

} // namespace
