// The network session through the real main dialog, with real peers on
// loopback.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "net/endpoint.h"
#include "progress/send_dlg.h"

#include <netdb.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>

using namespace korvo::test;

namespace {

const QString READY = QStringLiteral("Ready");
const QString CONNECTING = QStringLiteral("Connecting");
const QString LISTENING = QStringLiteral("Listening");
const QString CONNECTED = QStringLiteral("Connected");

QString Loopback(int family)
{
    return family == AF_INET6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
}

int Pending(int fd)
{
    int pending = -1;
    ioctl(fd, FIONREAD, &pending);
    return pending;
}

using Session = SessionTest;

TEST_F(Session, ClientConnectsWithKeepAliveAndPeerCloses)
{
    for (const int family : {AF_INET, AF_INET6}) {
        SCOPED_TRACE(family == AF_INET ? "IPv4" : "IPv6");
        Fd listener = Listener(family);
        SetFields(Loopback(family), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_EQ(CONNECTING, Status());
        EXPECT_FALSE(Enabled(IDC_BUTTON_CONNECT));
        EXPECT_TRUE(Enabled(IDC_BUTTON_CLOSE));
        EXPECT_FALSE(Enabled(IDC_COMBO_MODE));

        // Keep-alive is set before the connect: 10 s idle, 1 s between probes.
        const int fd = dlg->m_sock.m_hSocket;
        EXPECT_EQ(1, IntOption(fd, SOL_SOCKET, SO_KEEPALIVE));
        EXPECT_EQ(10, IntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE));
        EXPECT_EQ(1, IntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL));

        ASSERT_TRUE(WaitStatus(CONNECTED));
        EXPECT_EQ(STATE_CONNECTED, dlg->m_nState);
        EXPECT_TRUE(Enabled(IDC_BUTTON_SEND));
        EXPECT_EQ(QStringLiteral("Disconnect"), dlg->GetDlgItemText(IDC_BUTTON_CLOSE));

        Fd peer(::accept(listener.get(), nullptr, nullptr));
        ASSERT_EQ(5, ::send(peer.get(), "hello", 5, 0));
        peer.reset();
        ASSERT_TRUE(WaitStatus(READY));
        EXPECT_EQ(STATE_READY, dlg->m_nState);
        EXPECT_FALSE(dlg->m_sock.IsOpen());
        EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
        EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
        EXPECT_FALSE(Enabled(IDC_BUTTON_SEND));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Session, KeepAliveUncheckedLeavesSystemDefault)
{
    Fd listener = Listener(AF_INET);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
    dlg->m_checkKeepAlive->setChecked(false);
    Click(IDC_BUTTON_CONNECT);
    EXPECT_EQ(0, IntOption(dlg->m_sock.m_hSocket, SOL_SOCKET, SO_KEEPALIVE));
    ASSERT_TRUE(WaitStatus(CONNECTED));
}

TEST_F(Session, RemoteAddressIsTrimmed)
{
    Fd listener = Listener(AF_INET);
    SetFields(QStringLiteral(" \t127.0.0.1  "), LocalPort(listener.get()), 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitStatus(CONNECTED));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Session, RefusedConnectShowsSystemTextAndReturnsToReady)
{
    SetFields(QStringLiteral("127.0.0.1"), FreePort(), 1470);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    EXPECT_EQ(QString::fromLocal8Bit(strerror(ECONNREFUSED)), boxes.LastText());
    EXPECT_EQ(dlg->m_strTitle, boxes.shown.back().caption);
    EXPECT_EQ(unsigned(MB_OK | MB_ICONHAND), boxes.shown.back().type);
    EXPECT_EQ(READY, Status());
    EXPECT_EQ(STATE_READY, dlg->m_nState);
    EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
    EXPECT_FALSE(Enabled(IDC_BUTTON_CLOSE));
    EXPECT_FALSE(dlg->m_sock.IsOpen());
}

TEST_F(Session, UnresolvableNameShowsResolverText)
{
    // An unknown interface scope fails in the resolver itself: no query
    // leaves the machine.
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int code = getaddrinfo("::1%nosuchif", "1470", &hints, &list);
    ASSERT_NE(0, code);
    const QString expected = QString::fromLocal8Bit(gai_strerror(code));

    for (const int mode : {MODE_TCP_CLIENT, MODE_UDP}) {
        boxes.shown.clear();
        statuses.clear();
        SetMode(mode);
        SetFields(QStringLiteral("::1%nosuchif"), 1470, FreePort(SOCK_DGRAM));
        Click(IDC_BUTTON_CONNECT);
        ASSERT_EQ(1u, boxes.shown.size()) << mode;
        EXPECT_EQ(expected, boxes.LastText());
        // Nothing was opened and nothing changed.
        EXPECT_TRUE(statuses.empty());
        EXPECT_EQ(STATE_READY, dlg->m_nState);
        EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
        EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
        EXPECT_FALSE(dlg->m_sock.IsOpen());
    }
}

TEST_F(Session, ServerServesPeersOneAfterAnother)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());
    EXPECT_FALSE(Enabled(IDC_BUTTON_CONNECT));
    EXPECT_TRUE(Enabled(IDC_BUTTON_CLOSE));
    EXPECT_FALSE(Enabled(IDC_EDIT_LOCAL_PORT));
    EXPECT_FALSE(Enabled(IDC_CHECK_KEEPALIVE));
    EXPECT_FALSE(Enabled(IDC_COMBO_MODE));
    const int listening = dlg->m_sockListen.m_hSocket;
    EXPECT_EQ(1, IntOption(listening, SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(10, IntOption(listening, IPPROTO_TCP, TCP_KEEPIDLE));
    EXPECT_EQ(1, IntOption(listening, IPPROTO_TCP, TCP_KEEPINTVL));

    Fd first = ConnectTo(AF_INET, port);
    ASSERT_GE(first.get(), 0);
    const QString firstText = QStringLiteral("Connected[127.0.0.1 : %1]").arg(LocalPort(first.get()));
    ASSERT_TRUE(WaitStatus(firstText));
    EXPECT_TRUE(Enabled(IDC_BUTTON_SEND));

    // A second client is accepted and let go at once; the first stays.
    Fd second = ConnectTo(AF_INET, port);
    ASSERT_GE(second.get(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Readable(second.get(), 0); }));
    EXPECT_EQ(0, ReadSome(second.get()));
    EXPECT_EQ(firstText, Status());
    EXPECT_EQ(STATE_PEER_CONNECTED, dlg->m_nState);
    ASSERT_EQ(4, ::send(first.get(), "data", 4, 0));
    ASSERT_TRUE(WaitUntil([&] { return Pending(dlg->m_sock.m_hSocket) == 0; }));
    EXPECT_FALSE(Readable(first.get(), 0));

    first.reset();
    ASSERT_TRUE(WaitStatus(LISTENING));
    EXPECT_EQ(STATE_PEER_CLOSED, dlg->m_nState);
    EXPECT_FALSE(Enabled(IDC_BUTTON_SEND));
    EXPECT_TRUE(Enabled(IDC_BUTTON_CLOSE));

    Fd third = ConnectTo(AF_INET, port);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected[127.0.0.1 : %1]").arg(LocalPort(third.get()))));
    EXPECT_TRUE(boxes.shown.empty());

    Click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(READY, Status());
    EXPECT_FALSE(dlg->m_sock.IsOpen());
    EXPECT_FALSE(dlg->m_sockListen.IsOpen());
    ASSERT_TRUE(Readable(third.get()));
    EXPECT_EQ(0, ReadSome(third.get()));
    // The port is free for the next Listen.
    Click(IDC_BUTTON_CONNECT);
    EXPECT_EQ(LISTENING, Status());
}

TEST_F(Session, ServerOnIPv6ServesIPv6Only)
{
    SetMode(MODE_TCP_SERVER);
    dlg->CheckRadioButton(IDC_RADIO_IPV4, IDC_RADIO_IPV6, IDC_RADIO_IPV6);
    const unsigned short port = FreePort(SOCK_STREAM, AF_INET6);
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());

    sockaddr_in6 bound{};
    socklen_t length = sizeof bound;
    getsockname(dlg->m_sockListen.m_hSocket, reinterpret_cast<sockaddr*>(&bound), &length);
    EXPECT_EQ(AF_INET6, bound.sin6_family);
    EXPECT_TRUE(IN6_IS_ADDR_UNSPECIFIED(&bound.sin6_addr));
    EXPECT_EQ(port, ntohs(bound.sin6_port));

    Fd peer = ConnectTo(AF_INET6, port);
    ASSERT_GE(peer.get(), 0);
    ASSERT_TRUE(
        WaitStatus(QStringLiteral("Connected[[::1%0]:") + QString::number(LocalPort(peer.get())) + ']'));
    EXPECT_LT(ConnectTo(AF_INET, port).get(), 0);
}

TEST_F(Session, ServerWithIPv4ButtonBindsAllIPv4Addresses)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(dlg->m_sockListen.m_hSocket, reinterpret_cast<sockaddr*>(&bound), &length);
    EXPECT_EQ(AF_INET, bound.sin_family);
    EXPECT_EQ(htonl(INADDR_ANY), bound.sin_addr.s_addr);
    EXPECT_EQ(port, ntohs(bound.sin_port));
}

TEST_F(Session, ListenOnBusyPortReportsAndStaysReady)
{
    Fd busy = Listener(AF_INET);
    SetMode(MODE_TCP_SERVER);
    SetFields(QStringLiteral("127.0.0.1"), 1470, LocalPort(busy.get()));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(QString::fromLocal8Bit(strerror(EADDRINUSE)), boxes.LastText());
    EXPECT_EQ(READY, Status());
    EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
    EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
    EXPECT_FALSE(dlg->m_sockListen.IsOpen());
}

// Mended: an accept error used to leave the listening socket open in Ready,
// holding the port, with CLOSE disabled.
TEST_F(Session, AcceptErrorClosesTheListeningSocket)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());

    dlg->OnSocketAccept(&dlg->m_sockListen, ECONNABORTED);
    EXPECT_EQ(QString::fromLocal8Bit(strerror(ECONNABORTED)), boxes.LastText());
    EXPECT_EQ(READY, Status());
    EXPECT_FALSE(dlg->m_sockListen.IsOpen());
    EXPECT_LT(ConnectTo(AF_INET, port).get(), 0);

    boxes.shown.clear();
    Click(IDC_BUTTON_CONNECT);
    EXPECT_EQ(LISTENING, Status());
    EXPECT_TRUE(boxes.shown.empty());
}

// Mended: a peer that reset its connection while it waited to be accepted
// has no peer name any more, and its socket was taken for an idle one: no
// close came, the status stayed "Connected[...]" and every later client was
// turned away as a second peer.
TEST_F(Session, PeersResetBeforeAcceptDoNotJamTheServer)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());
    for (int i = 0; i < 3; ++i) {
        const std::size_t before = statuses.size();
        Fd reset = ConnectTo(AF_INET, port);
        ASSERT_GE(reset.get(), 0);
        const linger abort{1, 0};
        setsockopt(reset.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        reset.reset();
        ASSERT_TRUE(WaitUntil([&] {
            return statuses.size() >= before + 2 && dlg->m_nState == STATE_PEER_CLOSED;
        })) << Status().toStdString();
        EXPECT_EQ(LISTENING, Status());
        EXPECT_FALSE(Enabled(IDC_BUTTON_SEND));
        EXPECT_FALSE(dlg->m_sock.IsOpen());
    }
    Fd next = ConnectTo(AF_INET, port);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected[127.0.0.1 : %1]").arg(LocalPort(next.get()))));
}

// Mended: with no descriptor left the pending connection stays, and the
// accept event came straight back: a message box that reappeared as soon as
// it was answered (or, while a peer was served, a silent busy loop).
TEST_F(Session, AcceptShortOfDescriptorsReportsOnceAndServesLater)
{
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker's type checks open pipes of their own.
    GTEST_SKIP() << "needs descriptors the sanitizers' checks would lack";
#endif
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());

    Fd client(::socket(AF_INET, SOCK_STREAM, 0));
    auto shortage = std::make_unique<DescriptorShortage>();
    const int error = shortage->error;
    socklen_t length;
    const sockaddr_storage to = korvo::test::Loopback(AF_INET, port, &length);
    ASSERT_EQ(0, ::connect(client.get(), reinterpret_cast<const sockaddr*>(&to), length));
    const bool reported = WaitUntil([&] { return !boxes.shown.empty(); });
    DrainEvents(50);
    const std::size_t shown = boxes.shown.size();
    const QString status = Status();
    shortage.reset();

    ASSERT_TRUE(reported);
    EXPECT_EQ(EMFILE, error);
    EXPECT_EQ(1u, shown);
    EXPECT_EQ(QString::fromLocal8Bit(strerror(EMFILE)), boxes.shown[0].text);
    EXPECT_EQ(LISTENING, status);
    // Once descriptors are back the waiting client is served.
    EXPECT_TRUE(WaitStatus(QStringLiteral("Connected[127.0.0.1 : %1]").arg(LocalPort(client.get()))));
    EXPECT_EQ(1u, boxes.shown.size());
}

// The connect goes on to fail as before, but with the socket's own error
// rather than that of a connect on no socket.
TEST_F(Session, ClientShortOfDescriptorsReportsWhySocketFailed)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs descriptors the sanitizers' checks would lack";
#endif
    Fd listener = Listener(AF_INET);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
    {
        DescriptorShortage shortage;
        ASSERT_EQ(EMFILE, shortage.error);
        Click(IDC_BUTTON_CONNECT);
    }
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(QString::fromLocal8Bit(strerror(EMFILE)), boxes.LastText());
    EXPECT_EQ(READY, Status());
    EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
    EXPECT_FALSE(dlg->m_sock.IsOpen());
}

TEST_F(Session, UdpOpensBoundSocketWithBroadcast)
{
    const struct
    {
        const char* remote;
        int family;
    } cases[] = {{"127.0.0.1", AF_INET}, {"::1", AF_INET6}, {"", AF_INET}};
    SetMode(MODE_UDP);
    EXPECT_FALSE(dlg->m_checkKeepAlive->isChecked());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remote);
        const unsigned short port = FreePort(SOCK_DGRAM, AF_INET6);
        SetFields(QString::fromLatin1(c.remote), 1470, port);
        Click(IDC_BUTTON_CONNECT);
        ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
        EXPECT_EQ(READY, Status());
        EXPECT_TRUE(Enabled(IDC_BUTTON_CLOSE));
        EXPECT_TRUE(Enabled(IDC_BUTTON_SEND));
        EXPECT_FALSE(Enabled(IDC_BUTTON_CONNECT));
        EXPECT_FALSE(Enabled(IDC_EDIT_REMOTE_IP));
        EXPECT_FALSE(Enabled(IDC_EDIT_REMOTE_PORT));
        EXPECT_FALSE(Enabled(IDC_EDIT_LOCAL_PORT));

        const int fd = dlg->m_sock.m_hSocket;
        EXPECT_EQ(SOCK_DGRAM, IntOption(fd, SOL_SOCKET, SO_TYPE));
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        // Mended: an empty address used to take the family of the resolver's
        // first answer for this machine (::1 here) and never heard IPv4.
        EXPECT_EQ(c.family, bound.ss_family);
        EXPECT_EQ(port, LocalPort(fd));
        if (bound.ss_family == AF_INET) {
            EXPECT_EQ(1, IntOption(fd, SOL_SOCKET, SO_BROADCAST));
        }

        // Datagrams are read one per event, so none stays behind.
        const std::int64_t before = dlg->m_nRecvTotal;
        Fd sender(::socket(c.family, SOCK_DGRAM, 0));
        socklen_t toLength;
        const sockaddr_storage to = korvo::test::Loopback(c.family, port, &toLength);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(3,
                      ::sendto(sender.get(), "abc", 3, 0, reinterpret_cast<const sockaddr*>(&to), toLength));
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == before + 9; }));
        EXPECT_TRUE(Pending(fd) == 0 && !Readable(fd, 0));

        Click(IDC_BUTTON_CLOSE);
        EXPECT_FALSE(dlg->m_sock.IsOpen());
        EXPECT_TRUE(Enabled(IDC_EDIT_LOCAL_PORT));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Session, CloseInEveryState)
{
    Fd listener = Listener(AF_INET);
    fcntl(listener.get(), F_SETFL, fcntl(listener.get(), F_GETFL) | O_NONBLOCK);
    const unsigned short serverPort = FreePort();
    Fd peer;
    const struct
    {
        const char* name;
        int mode;
        std::function<void()> reach;
    } cases[] = {
        {"connecting", MODE_TCP_CLIENT,
         [&] {
             SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
             Click(IDC_BUTTON_CONNECT);
             ASSERT_EQ(CONNECTING, Status());
         }},
        {"connected", MODE_TCP_CLIENT,
         [&] {
             Click(IDC_BUTTON_CONNECT);
             ASSERT_TRUE(WaitStatus(CONNECTED));
         }},
        {"listening", MODE_TCP_SERVER,
         [&] {
             SetFields(QStringLiteral("127.0.0.1"), 1470, serverPort);
             Click(IDC_BUTTON_CONNECT);
             ASSERT_EQ(LISTENING, Status());
         }},
        {"peer connected", MODE_TCP_SERVER,
         [&] {
             Click(IDC_BUTTON_CONNECT);
             peer = ConnectTo(AF_INET, serverPort);
             ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));
         }},
        {"peer closed", MODE_TCP_SERVER,
         [&] {
             Click(IDC_BUTTON_CONNECT);
             peer = ConnectTo(AF_INET, serverPort);
             ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));
             peer.reset();
             ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CLOSED; }));
         }},
        {"udp open", MODE_UDP,
         [&] {
             SetFields(QStringLiteral("127.0.0.1"), 1470, FreePort(SOCK_DGRAM));
             Click(IDC_BUTTON_CONNECT);
             ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetMode(c.mode);
        ASSERT_NO_FATAL_FAILURE(c.reach());
        Click(IDC_BUTTON_CLOSE);
        EXPECT_EQ(STATE_READY, dlg->m_nState);
        EXPECT_EQ(READY, Status());
        EXPECT_FALSE(dlg->m_sock.IsOpen());
        EXPECT_FALSE(dlg->m_sockListen.IsOpen());
        EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
        EXPECT_FALSE(Enabled(IDC_BUTTON_CLOSE));
        EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
        // An abandoned connect reports nothing later.
        DrainEvents(20);
        EXPECT_EQ(STATE_READY, dlg->m_nState);
        // Drop what the client cases left at the listener.
        Fd(::accept(listener.get(), nullptr, nullptr));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

// Each state's row: CONNECT, CLOSE, SEND, TELNET, remote address, remote
// port, local port, Keep Alive, mode combo; '1' enabled, '0' disabled, '-'
// left as it was.
TEST_F(Session, ControlsFollowTheStateTable)
{
    const int ids[] = {IDC_BUTTON_CONNECT,  IDC_BUTTON_CLOSE,    IDC_BUTTON_SEND,
                       IDC_BUTTON_TELNET,   IDC_EDIT_REMOTE_IP,  IDC_EDIT_REMOTE_PORT,
                       IDC_EDIT_LOCAL_PORT, IDC_CHECK_KEEPALIVE, IDC_COMBO_MODE};
    const struct
    {
        SessionState state;
        int mode;
        const char* row;
        const char* status;
    } cases[] = {
        {STATE_READY, MODE_TCP_CLIENT, "100111011", "Ready"},
        {STATE_READY, MODE_TCP_SERVER, "1000-0111", "Ready"},
        {STATE_READY, MODE_UDP, "100011101", "Ready"},
        {STATE_CONNECTING, MODE_TCP_CLIENT, "010000-0-", "Connecting"},
        {STATE_LISTENING, MODE_TCP_SERVER, "0100--00-", "Listening"},
        {STATE_CONNECTED, MODE_TCP_CLIENT, "011000---", "Connected"},
        {STATE_UDP_OPEN, MODE_UDP, "011-000--", "Ready"},
        {STATE_PEER_CONNECTED, MODE_TCP_SERVER, "0110-0---", "Connected[10.1.0.2 : 1470]"},
        {STATE_PEER_CONNECTED, MODE_TCP_CLIENT, "011000---", "Connected[10.1.0.2 : 1470]"},
        {STATE_PEER_CLOSED, MODE_TCP_SERVER, "0100-0---", "Listening"},
    };
    dlg->m_strPeer = QStringLiteral("10.1.0.2 : 1470");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " mode " << c.mode);
        SetMode(c.mode);
        dlg->m_nState = c.state;
        std::string row;
        for (const int id : ids) {
            bool after[2];
            for (const bool before : {true, false}) {
                for (const int other : ids)
                    dlg->GetDlgItem(other)->setEnabled(before);
                dlg->UpdateControls();
                after[before] = dlg->GetDlgItem(id)->isEnabled();
            }
            row += after[0] == after[1] ? (after[0] ? '1' : '0') : '-';
        }
        EXPECT_EQ(std::string(c.row), row);
        EXPECT_EQ(QString::fromLatin1(c.status), Status());
        EXPECT_EQ(QStringLiteral("Disconnect"), dlg->GetDlgItemText(IDC_BUTTON_CLOSE));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

// A field that does not validate gets its message, but never keeps the
// window from showing the state the session is in.
TEST_F(Session, InvalidFieldStillShowsEveryNewState)
{
    Fd listener = Listener(AF_INET);
    Fd peer;
    const auto connect = [&] {
        SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        ASSERT_TRUE(WaitStatus(CONNECTED));
        peer = Fd(::accept(listener.get(), nullptr, nullptr));
        Click(IDC_BUTTON_SEND);
        ASSERT_TRUE(dlg->m_pSendDlg->isVisible());
    };
    const struct
    {
        const char* name;
        std::function<void()> reach, leave;
    } paths[] = {
        {"peer close", connect, [&] { peer.reset(); }},
        {"CLOSE", connect, [&] { Click(IDC_BUTTON_CLOSE); }},
        {"send error", connect,
         [&] {
             ::shutdown(dlg->m_sock.m_hSocket, SHUT_WR);
             Click(IDC_BUTTON_SEND);
         }},
        {"connect failure",
         [&] {
             SetFields(QStringLiteral("127.0.0.1"), FreePort(), 1470);
             Click(IDC_BUTTON_CONNECT);
             ASSERT_EQ(CONNECTING, Status());
         },
         [] {}},
    };
    for (const auto& path : paths) {
        for (const char* field : {"", "abc"}) {
            SCOPED_TRACE(testing::Message() << path.name << ", data length '" << field << "'");
            boxes.shown.clear();
            ASSERT_NO_FATAL_FAILURE(path.reach());
            dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QString::fromLatin1(field));
            path.leave();
            EXPECT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_READY; }));
            EXPECT_EQ(READY, Status());
            EXPECT_TRUE(Enabled(IDC_BUTTON_CONNECT));
            EXPECT_FALSE(Enabled(IDC_BUTTON_CLOSE));
            EXPECT_FALSE(Enabled(IDC_BUTTON_SEND));
            EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
            EXPECT_FALSE(dlg->m_pSendDlg->isVisible());
            ASSERT_FALSE(boxes.shown.empty());
            EXPECT_EQ(QStringLiteral("Enter a positive integer."), boxes.LastText());
            dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QStringLiteral("36"));
        }
    }

    // The same for a state other than Ready.
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(LISTENING, Status());
    dlg->SetDlgItemText(IDC_EDIT_REMOTE_PORT, QStringLiteral("70000"));
    peer = ConnectTo(AF_INET, port);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));
    EXPECT_EQ(QStringLiteral("Enter an integer between 1 and 65535."), boxes.LastText());
    EXPECT_EQ(QStringLiteral("Connected[127.0.0.1 : %1]").arg(LocalPort(peer.get())), Status());
    EXPECT_TRUE(Enabled(IDC_BUTTON_SEND));
}

TEST_F(Session, SystemErrorTexts)
{
    const struct
    {
        int code;
        QString text;
    } cases[] = {
        {ECONNREFUSED, QString::fromLocal8Bit(strerror(ECONNREFUSED))},
        {ENETUNREACH, QString::fromLocal8Bit(strerror(ENETUNREACH))},
        {EAI_NONAME, QString::fromLocal8Bit(gai_strerror(EAI_NONAME))},
        {EAI_SERVICE, QString::fromLocal8Bit(gai_strerror(EAI_SERVICE))},
        {99999, QString()},
        {-99999, QString()},
    };
    for (const auto& c : cases) {
        boxes.shown.clear();
        dlg->ShowSystemError(c.code);
        if (c.text.isEmpty()) {
            EXPECT_TRUE(boxes.shown.empty()) << c.code;
        } else {
            ASSERT_EQ(1u, boxes.shown.size()) << c.code;
            EXPECT_EQ(c.text, boxes.LastText());
            EXPECT_EQ(dlg->m_strTitle, boxes.shown.back().caption);
            EXPECT_EQ(unsigned(MB_OK | MB_ICONHAND), boxes.shown.back().type);
        }
    }
}

} // namespace
