// Automatic replies through the real main dialog and its Automatic Replies
// window, both shown, with rules as the window holds them (in a profile
// folder of the run's own).
//
// 1. latency: the dialog listens (TCP server) with the rule "contains PING
//    -> PONG\r\n"; a peer sends a 16-byte request 1,000 times and waits for
//    each reply. Prints the request-to-reply times at the peer (median, 99th
//    percentile, worst) and how many replies were missing.
// 2. flood: a loopback peer floods the shown, full receive pane, first with
//    replies off, then with sixteen "contains" rules of 4 to 32 bytes on, and
//    so on in turn; prints each rate and the best with rules against the best
//    without. flood1000: the same with a thousand rules of every kind, none
//    of which the flood matches.
// 3. runaway: two dialogs whose rules answer each other with eight times
//    what asked for it. Prints how long until both rules were paused and all was
//    quiet, the worst lateness of a 10 ms timer meanwhile (how long the
//    window could not respond), and how often the user was told (once per
//    window).
//
// Runs on the display given in DISPLAY (xcb), else offscreen, with the
// accessibility bridge off:
//     xvfb-run -a build/bin/harness_replies [MiB per flood, default 512] [latency|flood|flood1000|runaway]
#include "harness_support.h"
#include "pane_flood.h"
#include "reply_bench_rules.h"

#include "platform/message_box.h"
#include "replies/replies_dlg.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kMiB = 1024 * 1024;

using harness::RunEventsFor;

ReplyRule Rule(const std::string& pattern, const std::string& reply)
{
    ReplyRule rule;
    rule.name = QString::fromStdString(pattern);
    rule.pattern = QByteArray::fromStdString(pattern);
    rule.reply = QByteArray::fromStdString(reply);
    return rule;
}

// The dialog's Automatic Replies window, shown, with these rules.
CRepliesDlg& OpenReplies(CKorvoDlg& dlg, const std::vector<ReplyRule>& rules)
{
    dlg.OnReplies();
    CRepliesDlg& w = *dlg.m_pRepliesDlg;
    for (const ReplyRule& rule : rules)
        w.m_model->Insert(w.m_model->Count(), rule);
    w.m_checkAuto->setChecked(true);
    return w;
}

// A port that was free a moment ago.
unsigned short FreeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

bool Latency(int& messages)
{
    constexpr int kRequests = 1000;
    CKorvoDlg dlg;
    dlg.Create();
    harness::ShowAndWaitForPaint(dlg);
    OpenReplies(dlg, {Rule("PING", "PONG\r\n")});
    const unsigned short port = FreeTcpPort();
    harness::Connect(dlg, MODE_TCP_SERVER, 1470, port);

    std::vector<double> ms;
    std::atomic<bool> done{false};
    int missing = 0;
    std::thread peer([&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (int i = 0; i < kRequests; ++i) {
            char request[17];
            std::snprintf(request, sizeof request, "PING %010d\n", i);
            const auto sent = Clock::now();
            ::send(fd, request, 16, MSG_NOSIGNAL);
            std::string got;
            while (got.size() < 6) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 1000) != 1)
                    break;
                char buf[64];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, static_cast<std::size_t>(n));
            }
            if (got == "PONG\r\n")
                ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            else
                ++missing;
        }
        ::close(fd);
        done = true;
    });
    while (!done)
        RunEventsFor(20);
    peer.join();
    std::printf("reply latency       : %.3f ms median, %.3f ms p99, %.3f ms worst; %d of %d missing\n",
                Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), missing, kRequests);
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    return missing == 0 && messages == 0;
}

bool Flood(std::int64_t total, int& messages, const std::vector<ReplyRule>& rules, const char* label)
{
    CKorvoDlg dlg;
    dlg.Create();
    harness::ShowAndWaitForPaint(dlg);
    CRepliesDlg& replies = OpenReplies(dlg, rules);

    double best[2] = {0, 0};
    bool exact = true;
    for (int round = 0; round < 6; ++round) {
        const bool on = round % 2 == 1;
        replies.m_checkAuto->setChecked(on);
        const harness::PaneFlood flood = harness::FloodFullPane(dlg, total, messages);
        exact = exact && flood.exact;
        best[on] = std::max(best[on], flood.rate);
        std::printf("flood, rules %-3s    : %8.1f MB/s (counter %s)\n", on ? "on" : "off", flood.rate,
                    flood.exact ? "exact" : "WRONG");
        dlg.SendCommand(IDC_BUTTON_CLEAR);
    }
    std::int64_t matched = 0;
    for (const ReplyRule& rule : replies.m_model->Rows())
        matched += rule.matched;
    std::printf("flood with %s : %.0f %% of the rate without (best of three each; %lld matches)\n", label,
                100 * best[1] / best[0], static_cast<long long>(matched));
    return exact && messages == 0;
}

bool FloodSixteen(std::int64_t total, int& messages)
{
    std::vector<ReplyRule> rules;
    for (const std::string& p : bench::SixteenContainsPatterns())
        rules.push_back(Rule(p, "ACK"));
    return Flood(total, messages, rules, "16 rules");
}

// A thousand enabled rules, a quarter of each kind, none of which the flood
// matches.
bool FloodThousand(std::int64_t total, int& messages)
{
    std::vector<ReplyRule> rules;
    for (const auto& [when, p] : bench::ThousandRulesOfEveryKind()) {
        rules.push_back(Rule(p, "ACK"));
        rules.back().when = when;
    }
    return Flood(total, messages, rules, "1000 rules");
}

bool Runaway(int& messages)
{
    CKorvoDlg near, far;
    near.Create();
    far.Create();
    harness::ShowAndWaitForPaint(near);
    CRepliesDlg& nearReplies = OpenReplies(near, {Rule("X", "XXXXXXXX")});
    CRepliesDlg& farReplies = OpenReplies(far, {Rule("X", "XXXXXXXX")});
    const int messagesBefore = messages;
    const unsigned short port = FreeTcpPort();
    harness::Connect(near, MODE_TCP_SERVER, 1470, port);
    harness::Connect(far, MODE_TCP_CLIENT, port, 1470);
    RunEventsFor(50);
    if (near.m_nState != STATE_PEER_CONNECTED) {
        std::printf("runaway             : the dialogs did not connect\n");
        return false;
    }

    // A timer that wants to run every 10 ms: how late it comes is how long
    // the window could not have answered a click.
    double worstLateMs = 0;
    Clock::time_point expected = Clock::now() + std::chrono::milliseconds(10);
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worstLateMs =
            std::max(worstLateMs, std::chrono::duration<double, std::milli>(now - expected).count());
        expected = now + std::chrono::milliseconds(10);
    });
    probe.start(10);

    const auto start = Clock::now();
    far.m_outgoing.Enqueue(QByteArray("X"), Clock::now());
    const auto quiet = [&] {
        const ReplyRule& nearRule = nearReplies.m_model->At(0);
        const ReplyRule& farRule = farReplies.m_model->At(0);
        return nearRule.limit.Paused() && farRule.limit.Paused() && near.m_outgoing.Empty() &&
               far.m_outgoing.Empty() && near.m_nRecvTotal == 1 + 8 * farRule.matched &&
               far.m_nRecvTotal == 8 * nearRule.matched;
    };
    while (!quiet() && Clock::now() - start < std::chrono::seconds(30))
        RunEventsFor(5);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "runaway             : %s after %.2f s (%lld and %lld firings); a 10 ms timer was at most %.1f ms "
        "late\n",
        quiet() ? "quiet" : "STILL GOING", seconds,
        static_cast<long long>(nearReplies.m_model->At(0).matched),
        static_cast<long long>(farReplies.m_model->At(0).matched), worstLateMs);
    near.SendCommand(IDC_BUTTON_CLOSE);
    far.SendCommand(IDC_BUTTON_CLOSE);
    // Each window told its user once.
    RunEventsFor(50);
    const int told = messages - messagesBefore;
    messages -= told;
    std::printf("runaway             : %d message(s) shown, one per window expected\n", told);
    return quiet() && told == 2 && messages == 0;
}

} // namespace

int main(int argc, char** argv)
{
    harness::UseDisplayAsUsersDo();
    // The rules go to a profile folder of the run's own, never the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QApplication app(argc, argv);
    const std::int64_t total = (argc > 1 ? std::atoll(argv[1]) : 512) * kMiB;
    std::printf("platform %s; floods of %lld MiB\n", qPrintable(QGuiApplication::platformName()),
                static_cast<long long>(total / kMiB));
    int messages = 0;
    harness::LogMessageBoxes(messages);
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto wanted = [&](const char* part) { return only.isEmpty() || only == QLatin1String(part); };
    const bool latency = !wanted("latency") || Latency(messages);
    const bool flood = !wanted("flood") || FloodSixteen(total, messages);
    const bool thousand = !wanted("flood1000") || FloodThousand(total, messages);
    const bool runaway = !wanted("runaway") || Runaway(messages);
    return latency && flood && thousand && runaway ? 0 : 1;
}
