// Automatic replies at work in the real main dialog, with peers on loopback:
// what a peer sends, what it gets back, and when.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "replies/reply_engine.h"

#include <netinet/tcp.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace korvo::test;

namespace {

ReplyRuleRows RowsOf(std::vector<ReplyRule>& rules)
{
    return {[&rules] { return static_cast<int>(rules.size()); },
            [&rules](int row) -> ReplyRule& { return rules[static_cast<std::size_t>(row)]; }};
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

ReplyRule Rule(ReplyWhen when, const char* pattern, const char* reply, int delayMs = 0)
{
    ReplyRule rule;
    rule.name = QString::fromLatin1(pattern);
    rule.when = when;
    rule.pattern = QByteArray(pattern);
    rule.reply = QByteArray(reply);
    rule.delayMs = delayMs;
    return rule;
}

// A main dialog with its rules and their engine, replying automatically.
struct Answerer
{
    explicit Answerer(CKorvoDlg& dlg, std::vector<ReplyRule> list) : rules(std::move(list))
    {
        engine = std::make_unique<CReplyEngine>(dlg.m_taps, dlg.m_outgoing, RowsOf(rules));
        engine->m_onPaused = [this](int row) { paused.push_back(row); };
        engine->m_onTooLong = [this](int row) { tooLong.push_back(row); };
        engine->SetActive(true);
    }
    std::vector<ReplyRule> rules;
    std::unique_ptr<CReplyEngine> engine;
    std::vector<int> paused;
    std::vector<int> tooLong;
};

class Replies : public SessionTest
{
protected:
    Fd ConnectClient(const Fd& listener)
    {
        SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_TRUE(WaitStatus(QStringLiteral("Connected")));
        return Fd(::accept(listener.get(), nullptr, nullptr));
    }
    static void Send(const Fd& fd, const std::string& bytes)
    {
        ASSERT_EQ(ssize_t(bytes.size()), ::send(fd.get(), bytes.data(), bytes.size(), 0));
    }
    // This dialog listens, `other` connects to it.
    bool ConnectTo(CKorvoDlg& other)
    {
        SetMode(MODE_TCP_SERVER);
        const unsigned short port = FreePort();
        SetFields(QString(), 1470, port);
        Click(IDC_BUTTON_CONNECT);
        other.m_comboMode->setCurrentIndex(MODE_TCP_CLIENT);
        other.SendCommand(IDC_COMBO_MODE, CBN_SELCHANGE);
        other.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
        other.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(port));
        other.SendCommand(IDC_BUTTON_CONNECT);
        return WaitUntil(
            [&] { return dlg->m_nState == STATE_PEER_CONNECTED && other.m_nState == STATE_CONNECTED; });
    }
    static std::string ReadExactly(const Fd& fd, std::size_t n)
    {
        std::string got;
        WaitUntil(
            [&] {
                ReadSome(fd.get(), &got);
                return got.size() >= n;
            },
            seconds(10));
        return got;
    }
};

TEST_F(Replies, TcpRequestsGetTheirRepliesAfterTheirDelays)
{
    Answerer a(*dlg, {Rule(ReplyWhen::Contains, "PING", "PONG\r\n"),
                      Rule(ReplyWhen::Contains, "SLOW", "later", 150),
                      Rule(ReplyWhen::Equals, "TIME?", "now"), Rule(ReplyWhen::EndsWith, "!", "late", 120)});
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);

    // Split across reads, then two in one read.
    Send(peer, "xxPI");
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == 4; }));
    Send(peer, "NGyy");
    EXPECT_EQ("PONG\r\n", ReadExactly(peer, 6));
    Send(peer, "PINGPING");
    EXPECT_EQ("PONG\r\nPONG\r\n", ReadExactly(peer, 12));
    EXPECT_EQ(3, a.rules[0].matched);

    // Never before the delay from the read; "equals" and "ends with" never
    // before the gap ends their frame.
    const struct
    {
        const char* request;
        const char* reply;
        milliseconds atLeast;
    } cases[] = {{"SLOW", "later", milliseconds(150)},
                 {"TIME?", "now", milliseconds(50)},
                 {"go!", "late", milliseconds(120)}};
    auto lastReply = Clock::now();
    for (const auto& c : cases) {
        // Each request a frame of its own: the line goes quiet first.
        WaitUntil([&] { return Clock::now() - lastReply > milliseconds(60); });
        const auto sent = Clock::now();
        Send(peer, c.request);
        EXPECT_EQ(c.reply, ReadExactly(peer, std::strlen(c.reply))) << c.request;
        lastReply = Clock::now();
        EXPECT_GE(lastReply - sent, c.atLeast) << c.request;
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Replies, NothingIsSentWhileRepliesAreOffOrTheTelnetWindowOwnsTheConnection)
{
    Answerer a(*dlg, {Rule(ReplyWhen::Contains, "PING", "PONG")});
    a.engine->SetActive(false);
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    Send(peer, "PING");
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == 4; }));
    // A reply would have been queued by the read itself.
    EXPECT_TRUE(dlg->m_outgoing.Empty());
    EXPECT_EQ(-1, ReadSome(peer.get()));
    EXPECT_EQ(0, a.rules[0].matched);

    // A reply waiting for its delay is taken back when replies are turned off.
    a.rules[0].delayMs = 10000;
    a.engine->SetActive(true);
    Send(peer, "PING");
    ASSERT_TRUE(WaitUntil([&] { return !dlg->m_outgoing.Empty(); }));
    a.engine->SetActive(false);
    EXPECT_TRUE(dlg->m_outgoing.Empty());

    // The Telnet window's bytes are never matched.
    a.engine->SetActive(true);
    SessionInfo telnet = dlg->m_taps.Current();
    telnet.telnet = true;
    dlg->m_taps.Opened(telnet);
    dlg->m_taps.Received(reinterpret_cast<const std::uint8_t*>("PING"), 4, nullptr);
    EXPECT_TRUE(dlg->m_outgoing.Empty());
}

TEST_F(Replies, EachUdpClientGetsItsOwnReply)
{
    Answerer a(*dlg, {Rule(ReplyWhen::Contains, "PING", "PONG"), Rule(ReplyWhen::StartsWith, "ID", "korvo"),
                      Rule(ReplyWhen::Contains, "BIG", "")});
    // More than a datagram holds: the rule pauses instead of ending the session.
    a.rules[2].reply = QByteArray(70000, 'b');
    SetMode(MODE_UDP);
    // The Remote Host is a third socket, which must get nothing.
    std::vector<Fd> clients;
    for (int i = 0; i < 3; ++i) {
        clients.emplace_back(::socket(AF_INET, SOCK_DGRAM, 0));
        socklen_t length;
        const sockaddr_storage at = Loopback(AF_INET, 0, &length);
        ASSERT_EQ(0, ::bind(clients.back().get(), reinterpret_cast<const sockaddr*>(&at), length));
    }
    const unsigned short port = FreePort(SOCK_DGRAM);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(clients[2].get()), port);
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

    socklen_t length;
    const sockaddr_storage korvo = Loopback(AF_INET, port, &length);
    const auto sendTo = [&](const Fd& fd, const std::string& bytes) {
        ::sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&korvo), length);
    };
    // Each datagram is matched on its own: a pattern split over two never is.
    sendTo(clients[0], "BIG");
    sendTo(clients[0], "PI");
    sendTo(clients[0], "NG");
    sendTo(clients[0], "PING");
    sendTo(clients[1], "ID?PING");
    std::string first, second;
    ASSERT_TRUE(WaitUntil([&] {
        ReadSome(clients[0].get(), &first);
        ReadSome(clients[1].get(), &second);
        return first.size() >= 4 && second.size() >= 9;
    }));
    EXPECT_EQ("PONG", first);
    EXPECT_EQ("PONGkorvo", second);
    EXPECT_EQ(-1, ReadSome(clients[2].get()));
    EXPECT_EQ(std::vector<int>{2}, a.tooLong);
    EXPECT_TRUE(a.rules[2].limit.Paused());
    EXPECT_EQ(STATE_UDP_OPEN, dlg->m_nState);
}

// A thousand rules matching every byte of a read: each is counted as far as
// the guard lets it and then paused, what the read found stays small, and
// the paused and disabled rules are no longer looked for.
TEST_F(Replies, AThousandRulesMatchingEveryByteStayBoundedAndPausedOnesAreNoLongerSought)
{
    std::vector<ReplyRule> rules(1000, Rule(ReplyWhen::Contains, "A", ""));
    rules[0].enabled = false;
    rules.push_back(Rule(ReplyWhen::Contains, "Z", "z"));
    Answerer a(*dlg, rules);
    EXPECT_EQ(1000, a.engine->MatchedRules());
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    Send(peer, std::string(4096, 'A'));
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nRecvTotal == 4096; }));
    EXPECT_EQ(1, a.engine->MatchedRules());
    EXPECT_LT(a.engine->MemoryUse(), std::size_t(1) << 20);
    EXPECT_EQ(0, a.rules[0].matched);
    for (std::size_t r = 1; r < 1000; ++r) {
        ASSERT_TRUE(a.rules[r].limit.Paused()) << r;
        ASSERT_EQ(FiringLimit::LIMIT, a.rules[r].matched) << r;
    }
    // The rule left still answers.
    Send(peer, "Z");
    EXPECT_EQ("z", ReadExactly(peer, 1));
}

// Two windows whose rules answer each other, each reply with eight times
// what asked for it: the guards pause both rules, the replies already queued
// drain, and everything settles.
TEST_F(Replies, TwoAnswerersFeedingEachOtherSettle)
{
    CKorvoDlg other;
    ASSERT_TRUE(other.Create());
    Answerer near(*dlg, {Rule(ReplyWhen::Contains, "X", "XXXXXXXX")});
    Answerer far(other, {Rule(ReplyWhen::Contains, "X", "XXXXXXXX")});

    ASSERT_TRUE(ConnectTo(other));

    other.m_outgoing.Enqueue(QByteArray("X"), Clock::now());
    ASSERT_TRUE(WaitUntil([&] { return !near.paused.empty() && !far.paused.empty(); }, seconds(20)));
    // Every reply queued reaches the other side, and nothing more fires.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return dlg->m_outgoing.Empty() && other.m_outgoing.Empty() &&
                   dlg->m_nRecvTotal == 1 + 8 * far.rules[0].matched &&
                   other.m_nRecvTotal == 8 * near.rules[0].matched;
        },
        seconds(30)));
    EXPECT_EQ(std::vector<int>{0}, near.paused);
    EXPECT_EQ(std::vector<int>{0}, far.paused);
    EXPECT_LE(near.rules[0].matched, FiringLimit::LIMIT);
    EXPECT_LE(far.rules[0].matched, FiringLimit::LIMIT);
    EXPECT_TRUE(near.rules[0].limit.Paused() && far.rules[0].limit.Paused());
    EXPECT_TRUE(boxes.shown.empty());
}

// Two windows whose rules answer each other one to one bounce a message as
// fast as the send tick goes. The guard pauses the loop after about a hundred
// rounds, and then all is quiet.
TEST_F(Replies, TwoWindowsAnsweringEachOtherOneToOneArePausedAsALoop)
{
    CKorvoDlg other;
    ASSERT_TRUE(other.Create());
    Answerer near(*dlg, {Rule(ReplyWhen::Contains, "PING", "PONG")});
    Answerer far(other, {Rule(ReplyWhen::Contains, "PONG", "PING")});
    ASSERT_TRUE(ConnectTo(other));

    other.m_outgoing.Enqueue(QByteArray("PING"), Clock::now());
    ASSERT_TRUE(WaitUntil([&] { return !near.paused.empty() || !far.paused.empty(); }, seconds(20)));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return dlg->m_outgoing.Empty() && other.m_outgoing.Empty() &&
                   dlg->m_nRecvTotal == 4 * (1 + far.rules[0].matched) &&
                   other.m_nRecvTotal == 4 * near.rules[0].matched;
        },
        seconds(10)));
    const ReplyRule& stopped = near.paused.empty() ? far.rules[0] : near.rules[0];
    EXPECT_EQ(FiringLimit::PauseReason::Loop, stopped.limit.Reason());
    EXPECT_LE(near.rules[0].matched, 2 * FiringLimit::LOOP_LIMIT);
    EXPECT_LE(far.rules[0].matched, 2 * FiringLimit::LOOP_LIMIT);
    EXPECT_TRUE(boxes.shown.empty());
}

// A peer that asks as fast as it is answered, waiting for each answer, is
// served all along: what it sends is its own, never the reply coming back.
TEST_F(Replies, APeerAskingAsFastAsItIsAnsweredIsNeverPaused)
{
    Answerer a(*dlg, {Rule(ReplyWhen::Contains, "PING", "PONG\r\n")});
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    int one = 1;
    ::setsockopt(peer.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    constexpr int kRequests = 2000;
    std::atomic<int> answered{0};
    std::atomic<bool> done{false};
    std::thread asker([&] {
        for (int i = 0; i < kRequests; ++i) {
            char request[17];
            std::snprintf(request, sizeof request, "PING %010d\n", i);
            ::send(peer.get(), request, 16, MSG_NOSIGNAL);
            std::string got;
            while (got.size() < 6) {
                pollfd p{peer.get(), POLLIN, 0};
                if (::poll(&p, 1, 2000) != 1)
                    break;
                char buf[64];
                const ssize_t n = ::recv(peer.get(), buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, static_cast<std::size_t>(n));
            }
            if (got != "PONG\r\n")
                break;
            ++answered;
        }
        done = true;
    });
    WaitUntil([&] { return done.load(); }, seconds(60));
    asker.join();
    EXPECT_EQ(kRequests, answered.load());
    EXPECT_EQ(kRequests, a.rules[0].matched);
    EXPECT_FALSE(a.rules[0].limit.Paused());
    EXPECT_TRUE(a.paused.empty());
}

} // namespace
