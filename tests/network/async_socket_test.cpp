// Event semantics of CAsyncSocket on loopback.
#include "platform/async_socket.h"

#include "network/net_helpers.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace korvo::test;

namespace {

struct EventRecord
{
    char kind; // R receive, S send, A accept, C connect, X close
    int error;
    bool operator==(const EventRecord&) const = default;
};

std::string Kinds(const std::vector<EventRecord>& events)
{
    std::string s;
    for (const auto& e : events)
        s += e.kind;
    return s;
}

// Records every event and lets the test act inside the handler.
class Probe : public CAsyncSocket
{
public:
    std::vector<EventRecord> events;
    std::function<void(Probe&, char, int)> handler;

    int Count(char kind) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e.kind == kind;
        return n;
    }

protected:
    void OnReceive(int e) override { Record('R', e); }
    void OnSend(int e) override { Record('S', e); }
    void OnAccept(int e) override { Record('A', e); }
    void OnConnect(int e) override { Record('C', e); }
    void OnClose(int e) override { Record('X', e); }

private:
    void Record(char kind, int error)
    {
        events.push_back({kind, error});
        if (handler)
            handler(*this, kind, error);
    }
};

sockaddr_storage LoopbackOf(const CAsyncSocket& listener, socklen_t* length)
{
    return Loopback(AF_INET, LocalPort(listener.m_hSocket), length);
}

// A listening probe, a connected client probe and the accepted server side.
struct Connection
{
    Probe listener;
    Probe client;
    Probe server;

    void Open()
    {
        ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
        ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
        ASSERT_TRUE(client.Create(0, SOCK_STREAM));
        socklen_t length;
        const sockaddr_storage to = LoopbackOf(listener, &length);
        if (!client.Connect(reinterpret_cast<const sockaddr*>(&to), length)) {
            ASSERT_EQ(CAsyncSocket::SOCK_WOULDBLOCK, errno);
        }
        ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
        ASSERT_TRUE(listener.Accept(server));
        ASSERT_TRUE(WaitUntil([&] { return client.Count('S') == 1 && server.Count('S') == 1; }));
    }
};

TEST(AsyncSocket, ConnectAcceptAndFirstSendEvents)
{
    Probe listener, client, server;
    ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
    ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
    ASSERT_TRUE(client.Create(0, SOCK_STREAM));
    socklen_t length;
    const sockaddr_storage to = LoopbackOf(listener, &length);
    const bool at_once = client.Connect(reinterpret_cast<const sockaddr*>(&to), length);
    if (!at_once) {
        EXPECT_EQ(CAsyncSocket::SOCK_WOULDBLOCK, errno);
    }
    // The outcome always comes as an event, even for a connect done at once.
    EXPECT_TRUE(client.events.empty());

    ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    ASSERT_TRUE(listener.Accept(server, reinterpret_cast<sockaddr*>(&peer), &peerLength));
    EXPECT_EQ(LocalPort(client.m_hSocket), ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port));

    ASSERT_TRUE(WaitUntil([&] { return client.events.size() == 2 && server.events.size() == 1; }));
    DrainEvents(20);
    EXPECT_EQ((std::vector<EventRecord>{{'C', 0}, {'S', 0}}), client.events);
    EXPECT_EQ((std::vector<EventRecord>{{'S', 0}}), server.events);
    EXPECT_EQ("A", Kinds(listener.events));
    EXPECT_EQ(O_NONBLOCK, fcntl(server.m_hSocket, F_GETFL) & O_NONBLOCK);
}

TEST(AsyncSocket, AcceptEventRepeatsWhilePeersWait)
{
    Probe listener;
    ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
    ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
    Fd first = ConnectTo(AF_INET, LocalPort(listener.m_hSocket));
    Fd second = ConnectTo(AF_INET, LocalPort(listener.m_hSocket));
    ASSERT_GE(second.get(), 0);

    Probe a, b;
    ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
    DrainEvents(10);
    EXPECT_EQ(1, listener.Count('A')) << "no new event before Accept";
    ASSERT_TRUE(listener.Accept(a));
    ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 2; }));
    ASSERT_TRUE(listener.Accept(b));
    DrainEvents(10);
    EXPECT_EQ(2, listener.Count('A'));
}

TEST(AsyncSocket, OneReadPerReceiveEventThenCloseOnce)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    std::string received;
    int reads = 0;
    c.server.handler = [&](Probe& s, char kind, int) {
        if (kind != 'R')
            return;
        char buf[1000];
        const int n = s.Receive(buf, sizeof buf);
        ++reads;
        if (n > 0)
            received.append(buf, static_cast<size_t>(n));
    };
    const std::string data(10000, 'x');
    ASSERT_EQ(10000, c.client.Send(data.data(), static_cast<int>(data.size())));
    c.client.Close();

    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('X') == 1; }));
    DrainEvents(20);
    EXPECT_EQ(data, received);
    EXPECT_EQ(reads, c.server.Count('R'));
    EXPECT_GE(reads, 10);
    // The close comes last, once, after all data was offered.
    EXPECT_EQ((EventRecord{'X', 0}), c.server.events.back());
    EXPECT_EQ(1, c.server.Count('X'));
}

TEST(AsyncSocket, UnreadDataRaisesNoFurtherEvent)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    ASSERT_EQ(3, c.client.Send("abc", 3));
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('R') == 1; }));
    DrainEvents(50);
    EXPECT_EQ(1, c.server.Count('R'));

    // A read outside any handler re-arms the event while data remains.
    char byte;
    ASSERT_EQ(1, c.server.Receive(&byte, 1));
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('R') == 2; }));
}

TEST(AsyncSocket, RefusedConnectReportsOnce)
{
    Probe client;
    ASSERT_TRUE(client.Create(0, SOCK_STREAM));
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, FreePort(), &length);
    if (client.Connect(reinterpret_cast<const sockaddr*>(&to), length) ||
        errno == CAsyncSocket::SOCK_WOULDBLOCK) {
        ASSERT_TRUE(WaitUntil([&] { return !client.events.empty(); }));
        DrainEvents(20);
        EXPECT_EQ((std::vector<EventRecord>{{'C', ECONNREFUSED}}), client.events);
    } else {
        EXPECT_EQ(ECONNREFUSED, errno);
    }
}

TEST(AsyncSocket, SendEventOnlyAfterWouldBlock)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    const int small = 4096;
    setsockopt(c.client.m_hSocket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(c.server.m_hSocket, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    const std::string chunk(65536, 'y');
    long long sent = 0;
    int result = 0;
    for (int i = 0; i < 10000; ++i) {
        result = c.client.Send(chunk.data(), static_cast<int>(chunk.size()));
        if (result < 0)
            break;
        sent += result;
    }
    ASSERT_EQ(-1, result);
    EXPECT_EQ(CAsyncSocket::SOCK_WOULDBLOCK, errno);
    DrainEvents(20);
    EXPECT_EQ(1, c.client.Count('S')) << "no send event while the buffer is full";

    // Drain on the other side without events; space comes back.
    long long drained = 0;
    ASSERT_TRUE(WaitUntil([&] {
        char buf[65536];
        int n;
        while ((n = ::recv(c.server.m_hSocket, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            drained += n;
        return drained == sent && c.client.Count('S') == 2;
    }));
    DrainEvents(20);
    EXPECT_EQ(2, c.client.Count('S'));
}

TEST(AsyncSocket, HandlerMayCloseItsSocket)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    c.server.handler = [](Probe& s, char kind, int) {
        if (kind == 'R') {
            s.Close();
            s.Close(); // harmless
        }
    };
    ASSERT_EQ(1, c.client.Send("a", 1));
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('R') == 1; }));
    EXPECT_FALSE(c.server.IsOpen());
    c.client.Send("b", 1);
    c.client.Close();
    DrainEvents(20);
    EXPECT_EQ("SR", Kinds(c.server.events));
    char byte;
    EXPECT_EQ(-1, c.server.Receive(&byte, 1));
}

TEST(AsyncSocket, HandlerMayReopenItsSocket)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    c.server.handler = [](Probe& s, char kind, int) {
        if (kind == 'R' && s.Count('R') == 1) {
            s.Close();
            ASSERT_TRUE(s.Create(0, SOCK_DGRAM));
        }
    };
    ASSERT_EQ(1, c.client.Send("a", 1));
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('R') == 1; }));
    // The reopened socket has events of its own: a first send event, then a
    // datagram.
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('S') == 2; }));
    Probe sender;
    ASSERT_TRUE(sender.Create(0, SOCK_DGRAM));
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, LocalPort(c.server.m_hSocket), &length);
    ASSERT_EQ(2, sender.SendTo("hi", 2, reinterpret_cast<const sockaddr*>(&to), length));
    ASSERT_TRUE(WaitUntil([&] { return c.server.Count('R') == 2; }));
}

TEST(AsyncSocket, HandlerMayDestroyItsSocket)
{
    Probe listener;
    ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
    ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
    Fd peer = ConnectTo(AF_INET, LocalPort(listener.m_hSocket));
    ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
    auto* doomed = new Probe;
    ASSERT_TRUE(listener.Accept(*doomed));
    bool deleted = false;
    doomed->handler = [&](Probe& s, char kind, int) {
        if (kind == 'R') {
            deleted = true;
            delete &s;
        }
    };
    ASSERT_EQ(1, ::send(peer.get(), "z", 1, 0));
    ASSERT_TRUE(WaitUntil([&] { return deleted; }));
    ::send(peer.get(), "more", 4, 0);
    DrainEvents(20);
}

TEST(AsyncSocket, ModalLoopInsideHandlerDoesNotNestReceive)
{
    Connection c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    int depth = 0;
    int maxDepth = 0;
    std::string received;
    c.server.handler = [&](Probe& s, char kind, int) {
        if (kind != 'R')
            return;
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        char buf[64];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, static_cast<size_t>(n));
        if (s.Count('R') == 1) {
            // A modal loop after the read, while more data arrives.
            c.client.Send("second", 6);
            EXPECT_TRUE(WaitUntil([&] {
                int pending = 0;
                ioctl(s.m_hSocket, FIONREAD, &pending);
                return pending == 6;
            }));
            DrainEvents(20);
            EXPECT_EQ(1, s.Count('R'));
        }
        --depth;
    };
    ASSERT_EQ(5, c.client.Send("first", 5));
    ASSERT_TRUE(WaitUntil([&] { return received == "firstsecond"; }));
    EXPECT_EQ(1, maxDepth);
}

TEST(AsyncSocket, DatagramEvents)
{
    Probe receiver, sender;
    ASSERT_TRUE(receiver.Create(0, SOCK_DGRAM));
    ASSERT_TRUE(sender.Create(0, SOCK_DGRAM));
    ASSERT_TRUE(WaitUntil([&] { return receiver.Count('S') == 1 && sender.Count('S') == 1; }));

    std::vector<std::string> got;
    std::vector<unsigned short> from;
    receiver.handler = [&](Probe& s, char kind, int) {
        if (kind != 'R')
            return;
        char buf[100];
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        const int n = s.ReceiveFrom(buf, sizeof buf, reinterpret_cast<sockaddr*>(&a), &length);
        if (n >= 0) {
            got.emplace_back(buf, static_cast<size_t>(n));
            from.push_back(ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port));
        }
    };
    socklen_t length;
    const sockaddr_storage to = Loopback(AF_INET, LocalPort(receiver.m_hSocket), &length);
    ASSERT_EQ(3, sender.SendTo("one", 3, reinterpret_cast<const sockaddr*>(&to), length));
    ASSERT_EQ(3, sender.SendTo("two", 3, reinterpret_cast<const sockaddr*>(&to), length));
    ASSERT_TRUE(WaitUntil([&] { return got.size() == 2; }));
    DrainEvents(20);
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), got);
    EXPECT_EQ(2, receiver.Count('R'));
    EXPECT_EQ(LocalPort(sender.m_hSocket), from.at(0));
    EXPECT_EQ(1, sender.Count('S'));
}

TEST(AsyncSocket, ClosedSocketOperationsFailQuietly)
{
    Probe s;
    s.Close();
    char byte = 0;
    EXPECT_EQ(-1, s.Receive(&byte, 1));
    EXPECT_EQ(-1, s.Send(&byte, 1));
    Probe other;
    EXPECT_FALSE(s.Accept(other));
    EXPECT_FALSE(s.Attach(-1));
    EXPECT_FALSE(s.IsOpen());
}

} // namespace

namespace {

// Counts turns of the event loop: a zero timer fires once per turn.
struct TurnCounter
{
    QTimer timer;
    int turns = 0;
    TurnCounter()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++turns; });
        timer.start(0);
    }
};

// The lengths of the runs of receive events that came within one turn.
std::vector<int> Runs(const std::vector<int>& turnOfEvent)
{
    std::vector<int> runs;
    for (std::size_t i = 0; i < turnOfEvent.size(); ++i) {
        if (i == 0 || turnOfEvent[i] != turnOfEvent[i - 1])
            runs.push_back(0);
        ++runs.back();
    }
    return runs;
}

// A plain blocking peer and the probe that accepted it.
struct PlainPeer
{
    Probe listener;
    Probe server;
    Fd peer;

    void Open()
    {
        ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
        ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
        peer = ConnectTo(AF_INET, LocalPort(listener.m_hSocket));
        ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
        ASSERT_TRUE(listener.Accept(server));
    }
    // Sends from a thread, so that a full socket does not stop the test.
    std::thread SendInBackground(const std::string& data, int times = 1)
    {
        return std::thread([this, &data, times] {
            for (int i = 0; i < times; ++i)
                if (::send(peer.get(), data.data(), data.size(), MSG_NOSIGNAL) < 0)
                    return;
        });
    }
};

TEST(AsyncSocket, ReceiveEventsComeInBoundedRunsWhileDataRemains)
{
    PlainPeer c;
    ASSERT_NO_FATAL_FAILURE(c.Open());
    TurnCounter loop;
    std::vector<int> turnOfEvent;
    std::string received;
    c.server.handler = [&](Probe& s, char kind, int) {
        if (kind != 'R')
            return;
        turnOfEvent.push_back(loop.turns);
        char buf[100];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, static_cast<size_t>(n));
    };

    // Ten reads' worth: one run, which ends with the data.
    const std::string small(1000, 's');
    ASSERT_EQ(1000, ::send(c.peer.get(), small.data(), small.size(), 0));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1000; }));
    DrainEvents(20);
    EXPECT_EQ(10u, turnOfEvent.size());
    // One run; a machine busy enough to hold the thread past the time bound
    // may split it once.
    EXPECT_LE(Runs(turnOfEvent).size(), 2u);

    // More than one run holds: the bound ends each run, the loop turns in
    // between, and nothing is lost.
    turnOfEvent.clear();
    received.clear();
    const std::string big(200000, 'b');
    std::thread writer = c.SendInBackground(big);
    const bool all = WaitUntil([&] { return received.size() == big.size(); });
    writer.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(big, received);
    const std::vector<int> runs = Runs(turnOfEvent);
    EXPECT_GE(runs.size(), 2000u / CAsyncSocket::kReceiveRunEvents);
    EXPECT_LE(*std::max_element(runs.begin(), runs.end()), CAsyncSocket::kReceiveRunEvents);
}

TEST(AsyncSocket, OtherSocketsAndTimersRunDuringAFlood)
{
    PlainPeer flood;
    ASSERT_NO_FATAL_FAILURE(flood.Open());
    Connection other;
    ASSERT_NO_FATAL_FAILURE(other.Open());
    long long drained = 0;
    flood.server.handler = [&](Probe& s, char kind, int) {
        char buf[16];
        if (kind == 'R' && s.Receive(buf, sizeof buf) > 0)
            drained += static_cast<long long>(sizeof buf);
    };
    const std::string data(1 << 20, 'f');
    std::thread writer = flood.SendInBackground(data, 16);
    ASSERT_TRUE(WaitUntil([&] { return drained > 0; }));

    // Sixteen-byte reads of 16 MiB take a million events; the other socket
    // and a timer are served long before they end.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    ASSERT_EQ(2, other.client.Send("hi", 2));
    const bool served = WaitUntil([&] { return other.server.Count('R') == 1 && ticks >= 3; });
    const long long at = drained;
    ::shutdown(flood.peer.get(), SHUT_RDWR);
    writer.join();
    EXPECT_TRUE(served);
    EXPECT_LT(at, 16LL << 20);
}

TEST(AsyncSocket, HandlerThatClosesReopensOrDestroysEndsTheRun)
{
    for (const char action : {'c', 'r', 'd'}) {
        SCOPED_TRACE(std::string(1, action));
        Probe listener;
        ASSERT_TRUE(listener.Create(0, SOCK_STREAM));
        ASSERT_EQ(0, ::listen(listener.m_hSocket, 4));
        Fd peer = ConnectTo(AF_INET, LocalPort(listener.m_hSocket));
        ASSERT_TRUE(WaitUntil([&] { return listener.Count('A') == 1; }));
        auto* server = new Probe;
        ASSERT_TRUE(listener.Accept(*server));
        int events = 0;
        bool deleted = false;
        server->handler = [&](Probe& s, char kind, int) {
            if (kind != 'R')
                return;
            char buf[10];
            s.Receive(buf, sizeof buf);
            if (++events < 3)
                return;
            if (action == 'c') {
                s.Close();
            } else if (action == 'r') {
                s.Close();
                ASSERT_TRUE(s.Create(0, SOCK_DGRAM));
            } else {
                deleted = true;
                delete &s;
            }
        };
        // Thirty reads' worth in one go: the run would go on after the third.
        const std::string data(300, 'x');
        ASSERT_EQ(300, ::send(peer.get(), data.data(), data.size(), 0));
        ASSERT_TRUE(WaitUntil([&] { return events == 3; }));
        DrainEvents(20);
        EXPECT_EQ(3, events);
        if (!deleted) {
            EXPECT_EQ(3, server->Count('R'));
            EXPECT_EQ(action == 'r', server->IsOpen());
            delete server;
        }
    }
}

// Mended: EAGAIN from connect equals the would-block code, so a connect that
// could not even start read as under way and stayed "Connecting" for ever.
TEST(AsyncSocket, ConnectThatCannotStartIsAFailure)
{
    Fd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "korvo-test-" + std::to_string(getpid());
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    ASSERT_EQ(0, ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length));
    ASSERT_EQ(0, ::listen(listener.get(), 0));
    // Fill the listener's queue until a connect is refused with EAGAIN.
    std::vector<Fd> queued;
    for (int i = 0; i < 8; ++i) {
        Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 && errno == EAGAIN)
            break;
        queued.push_back(std::move(fd));
    }

    Probe client;
    ASSERT_TRUE(client.Attach(::socket(AF_UNIX, SOCK_STREAM, 0)));
    EXPECT_FALSE(client.Connect(reinterpret_cast<sockaddr*>(&address), length));
    EXPECT_NE(CAsyncSocket::SOCK_WOULDBLOCK, errno);
    EXPECT_NE(0, errno);
    DrainEvents(10);
    EXPECT_EQ(0, client.Count('C'));
}

} // namespace
