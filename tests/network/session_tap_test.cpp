// What the additions see of the session through its taps, and how their
// queued bytes go out beside the send pane's transfer, through the real main
// dialog and peers on loopback.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "panes/hex_edit.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

unsigned short PortOf(const sockaddr_storage& a)
{
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port)
                                   : ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

unsigned short PortOf(const sockaddr* a)
{
    sockaddr_storage copy{};
    std::memcpy(&copy, a, a->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    return PortOf(copy);
}

// Writes down every call, as one line each.
class RecordingTap : public SessionTap
{
public:
    void OnSessionOpened(const SessionInfo& s, const TapTime&) override
    {
        events.push_back(std::string("open ") + (s.protocol == SessionProtocol::Udp ? "udp" : "tcp") +
                         (s.server ? " server" : "") + (s.telnet ? " telnet" : ""));
        session = s;
    }
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr*,
                         const TapTime&) override
    {
        received.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
        lastPeerPort = PortOf(peer);
    }
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer, const TapTime&) override
    {
        sent.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
        largestSent = std::max(largestSent, length);
        lastPeerPort = PortOf(peer);
    }
    void OnSessionEnded(const SessionEnd& end, const TapTime&) override
    {
        const char* side = end.side == SessionSide::Local ? "local" : "remote";
        events.push_back(std::string(end.byError ? "failed " : "closed ") + side);
    }
    bool HoldsReceive() const override { return hold; }

    std::vector<std::string> events;
    SessionInfo session;
    std::string received, sent;
    int largestSent = 0;
    unsigned short lastPeerPort = 0;
    bool hold = false;
};

class Taps : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        dlg->m_taps.Add(&tap);
    }
    void TearDown() override
    {
        dlg->m_taps.Remove(&tap);
        SessionTest::TearDown();
    }
    Fd ConnectClient(const Fd& listener)
    {
        SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_TRUE(WaitStatus(QStringLiteral("Connected")));
        return Fd(::accept(listener.get(), nullptr, nullptr));
    }
    bool ReadUntil(int fd, std::string& got, size_t n)
    {
        return WaitUntil(
            [&] {
                while (got.size() < n && ReadSome(fd, &got) > 0) {
                }
                return got.size() >= n;
            },
            seconds(20));
    }
    OutgoingQueue::Ticket Queue(const std::string& bytes,
                                std::vector<OutgoingQueue::Outcome>* outcomes = nullptr)
    {
        return dlg->m_outgoing.Enqueue(QByteArray::fromStdString(bytes), OutgoingQueue::Clock::now(),
                                       [outcomes](OutgoingQueue::Outcome o, int) {
                                           if (outcomes)
                                               outcomes->push_back(o);
                                       });
    }

    RecordingTap tap;
};

TEST_F(Taps, EachModeReportsItsSessionBothDirectionsAndItsEnd)
{
    const std::string request = "request from the peer";
    const std::string answer(1300, 'x');
    dlg->m_hexSend->SetData(static_cast<int>(answer.size()), answer.data());

    // TCP client, closed by the peer.
    {
        Fd listener = Listener();
        Fd peer = ConnectClient(listener);
        ASSERT_EQ(1u, tap.events.size());
        EXPECT_EQ("open tcp", tap.events[0]);
        EXPECT_EQ(LocalPort(listener.get()), PortOf(tap.session.remote));
        EXPECT_EQ(LocalPort(dlg->m_sock.m_hSocket), PortOf(tap.session.local));
        ASSERT_EQ(ssize_t(request.size()), ::send(peer.get(), request.data(), request.size(), 0));
        Click(IDC_BUTTON_SEND);
        std::string got;
        ASSERT_TRUE(ReadUntil(peer.get(), got, answer.size()));
        ASSERT_TRUE(WaitUntil([&] { return tap.received == request; }));
        EXPECT_TRUE(tap.sent == answer);
        EXPECT_EQ(SEND_CHUNK_SIZE, tap.largestSent);
        peer.reset();
        ASSERT_TRUE(WaitStatus(QStringLiteral("Ready")));
        EXPECT_EQ((std::vector<std::string>{"open tcp", "closed remote"}), tap.events);
    }

    // TCP server: each accepted peer is a session, the first reset by the
    // peer; CLOSE ends the last.
    tap = RecordingTap();
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QString(), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    for (int i = 0; i < 2; ++i) {
        Fd peer = ConnectTo(AF_INET, port);
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));
        ::send(peer.get(), "ab", 2, 0);
        ASSERT_TRUE(WaitUntil([&] { return tap.received.size() == 2u * (i + 1); }));
        EXPECT_EQ(LocalPort(peer.get()), tap.lastPeerPort);
        if (i == 0) {
            const linger reset{1, 0};
            ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            peer.reset();
            ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CLOSED; }));
        }
    }
    Click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(
        (std::vector<std::string>{"open tcp server", "failed remote", "open tcp server", "closed local"}),
        tap.events);

    // UDP: each datagram with its own peer.
    tap = RecordingTap();
    SetMode(MODE_UDP);
    Fd other(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t length;
    sockaddr_storage a = Loopback(AF_INET, 0, &length);
    ASSERT_EQ(0, ::bind(other.get(), reinterpret_cast<const sockaddr*>(&a), length));
    const unsigned short local = FreePort(SOCK_DGRAM);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(other.get()), local);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    a = Loopback(AF_INET, local, &length);
    ::sendto(other.get(), "dgram", 5, 0, reinterpret_cast<const sockaddr*>(&a), length);
    ASSERT_TRUE(WaitUntil([&] { return tap.received == "dgram"; }));
    EXPECT_EQ(LocalPort(other.get()), tap.lastPeerPort);
    Click(IDC_BUTTON_CLOSE);
    EXPECT_EQ((std::vector<std::string>{"open udp", "closed local"}), tap.events);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
}

TEST_F(Taps, AHeldReceiveReadsNothingUntilReleasedAndLosesNothing)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    tap.hold = true;
    const std::string bytes(200000, 'h');
    std::thread writer([&] { ::send(peer.get(), bytes.data(), bytes.size(), 0); });
    DrainEvents(20);
    EXPECT_EQ(0, dlg->m_nRecvTotal);
    tap.hold = false;
    dlg->m_taps.Release();
    EXPECT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == std::int64_t(bytes.size()); }, seconds(20)));
    writer.join();
    EXPECT_EQ(bytes.size(), tap.received.size());
}

TEST_F(Taps, QueuedItemsAndThePaneMeetOnlyWhereAChunkEnds)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    // The pane's bytes are letters, the queue's are digits: the stream at
    // the peer shows where each queued item landed.
    std::string pane(64 * 1024, '\0');
    for (size_t i = 0; i < pane.size(); ++i)
        pane[i] = static_cast<char>('a' + i % 26);
    const std::string item = std::string(700, '1') + std::string(3, '2');
    dlg->m_hexSend->SetData(static_cast<int>(pane.size()), pane.data());

    std::vector<OutgoingQueue::Outcome> outcomes;
    Click(IDC_BUTTON_SEND);
    for (int i = 0; i < 5; ++i)
        Queue(item, &outcomes);
    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, pane.size() + 5 * item.size()));

    // Each stream arrives whole and in order; they meet only where a chunk
    // of one ends: 512 bytes of the pane, 512 bytes or the end of an item.
    std::string paneGot, queueGot;
    for (size_t at = 0; at < got.size();) {
        const bool paneRun = got[at] >= 'a';
        size_t end = at;
        while (end < got.size() && (got[end] >= 'a') == paneRun)
            ++end;
        (paneRun ? paneGot : queueGot) += got.substr(at, end - at);
        at = end;
        const size_t inItem = queueGot.size() % item.size();
        EXPECT_TRUE(paneGot.size() % SEND_CHUNK_SIZE == 0 || paneGot.size() == pane.size()) << at;
        EXPECT_TRUE(inItem % SEND_CHUNK_SIZE == 0) << at;
    }
    EXPECT_TRUE(paneGot == pane);
    std::string items;
    for (int i = 0; i < 5; ++i)
        items += item;
    EXPECT_TRUE(queueGot == items);
    EXPECT_EQ(std::vector<OutgoingQueue::Outcome>(5, OutgoingQueue::Outcome::Sent), outcomes);
    EXPECT_EQ(pane.size() + 5 * item.size(), tap.sent.size());
}

TEST_F(Taps, AQueuedDatagramGoesWholeToItsOwnDestinationOrToTheRemoteHost)
{
    SetMode(MODE_UDP);
    std::vector<Fd> receivers;
    for (int i = 0; i < 2; ++i) {
        receivers.emplace_back(::socket(AF_INET, SOCK_DGRAM, 0));
        socklen_t length;
        const sockaddr_storage a = Loopback(AF_INET, 0, &length);
        ASSERT_EQ(0, ::bind(receivers.back().get(), reinterpret_cast<const sockaddr*>(&a), length));
    }
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(receivers[0].get()), FreePort(SOCK_DGRAM));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

    const std::string big(1000, 'b');
    Queue(big);
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, LocalPort(receivers[1].get()), &length);
    dlg->m_outgoing.Enqueue(QByteArray("reply"), OutgoingQueue::Clock::now(), {},
                            reinterpret_cast<const sockaddr*>(&to), length);
    std::string first, second;
    ASSERT_TRUE(WaitUntil([&] {
        ReadSome(receivers[0].get(), &first);
        ReadSome(receivers[1].get(), &second);
        return !first.empty() && !second.empty();
    }));
    EXPECT_TRUE(first == big);
    EXPECT_EQ("reply", second);
    EXPECT_EQ(LocalPort(receivers[1].get()), tap.lastPeerPort);
}

TEST_F(Taps, WhatWasQueuedForASessionNeverGoesOutOnTheNext)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    std::vector<OutgoingQueue::Outcome> outcomes;
    // Due later than the session lasts.
    dlg->m_outgoing.Enqueue(QByteArray("late"), OutgoingQueue::Clock::now() + seconds(30),
                            [&](OutgoingQueue::Outcome o, int) { outcomes.push_back(o); });
    Click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(std::vector<OutgoingQueue::Outcome>{OutgoingQueue::Outcome::Dropped}, outcomes);
    EXPECT_TRUE(dlg->m_outgoing.Empty());

    // Ordering in the queue: by due time, an item under way stays in front.
    OutgoingQueue queue;
    const auto now = OutgoingQueue::Clock::now();
    queue.Enqueue(QByteArray(600, 'a'), now);
    queue.Enqueue(QByteArray("c"), now + seconds(2));
    const auto b = queue.Enqueue(QByteArray("b"), now + seconds(1));
    queue.Advance(512);
    queue.Enqueue(QByteArray("first"), now - seconds(1));
    ASSERT_NE(nullptr, queue.Next(now));
    EXPECT_EQ('a', queue.Next(now)->bytes[0]);
    queue.Cancel(b);
    queue.Advance(88);
    std::string order;
    while (const OutgoingQueue::Item* next = queue.Next(now + seconds(3))) {
        order += next->bytes.toStdString() + ",";
        queue.Advance(static_cast<int>(next->bytes.size()));
    }
    EXPECT_EQ("first,c,", order);
}

} // namespace
