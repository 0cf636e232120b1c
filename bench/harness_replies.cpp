// Automatic replies through the real main dialog and its Automatic Replies
// window, both shown, with rules as the window holds them (in a profile
// folder of the run's own).
//
// 1. latency: the dialog listens (TCP server) with the rule "contains PING
//    -> PONG\r\n"; a peer sends a 16-byte request 3,000 times and waits for
//    each reply. Prints the request-to-reply times at the peer (median, 99th
//    percentile, worst), how many replies were missing, the requests a second
//    and that the rule was never paused.
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
// 4. loop: a rule answering an echoing peer (socat ... EXEC:cat) with what
//    it sent, and two dialogs whose rules answer each other one to one.
//    Prints how long until the guard paused the loop, and the firings.
//
// Runs on the display given in DISPLAY (xcb), else offscreen, with the
// accessibility bridge off:
//     xvfb-run -a build/bin/harness_replies [MiB per flood, default 512]
//     [latency|flood|flood1000|runaway|loop]
#include "harness_support.h"
#include "pane_flood.h"
#include "reply_bench_rules.h"

#include "platform/message_box.h"
#include "replies/replies_dlg.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QProcess>
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
#include <functional>
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
    // Three seconds of requests as fast as they are answered.
    constexpr int kRequests = 3000;
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
    const auto start = Clock::now();
    while (!done)
        RunEventsFor(20);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    peer.join();
    const bool paused = dlg.m_pRepliesDlg->m_model->At(0).limit.Paused();
    std::printf("reply latency       : %.3f ms median, %.3f ms p99, %.3f ms worst; %d of %d missing; "
                "%.0f requests a second; rule %s\n",
                Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), missing, kRequests,
                kRequests / seconds, paused ? "PAUSED" : "never paused");
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    return missing == 0 && !paused && messages == 0;
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

// How long a one-to-one loop runs before the guard pauses it, and whether
// all is quiet then: against an echoing peer (socat), and between two
// dialogs whose rules answer each other.
bool Loop(int& messages)
{
    const auto until = [](const std::function<bool()>& done) {
        const auto start = Clock::now();
        while (!done() && Clock::now() - start < std::chrono::seconds(20))
            RunEventsFor(1);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    bool ok = true;
    {
        CKorvoDlg dlg;
        dlg.Create();
        harness::ShowAndWaitForPaint(dlg);
        CRepliesDlg& replies = OpenReplies(dlg, {Rule("PING", "PING")});
        const unsigned short port = FreeTcpPort();
        QProcess echo;
        echo.start(QStringLiteral("timeout"),
                   {QStringLiteral("30"), QStringLiteral("socat"),
                    QStringLiteral("TCP4-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                    QStringLiteral("EXEC:cat")});
        echo.waitForStarted(5000);
        RunEventsFor(300);
        harness::Connect(dlg, MODE_TCP_CLIENT, port, 1470);
        until([&] { return dlg.m_nState == STATE_CONNECTED; });
        const int before = messages;
        dlg.m_outgoing.Enqueue(QByteArray("PING"), Clock::now());
        const ReplyRule& rule = replies.m_model->At(0);
        const double seconds = until([&] { return rule.limit.Paused(); });
        until([&] { return dlg.m_nRecvTotal == 4 * (1 + rule.matched); });
        RunEventsFor(50);
        const bool loop = rule.limit.Reason() == FiringLimit::PauseReason::Loop;
        std::printf("loop with an echo   : %s after %.3f s and %lld firings; %d message(s) shown\n",
                    loop ? "paused as a loop" : "NOT PAUSED AS A LOOP", seconds,
                    static_cast<long long>(rule.matched), messages - before);
        ok = ok && loop && messages - before == 1;
        messages = before;
        dlg.SendCommand(IDC_BUTTON_CLOSE);
        echo.kill();
        echo.waitForFinished(5000);
    }
    {
        CKorvoDlg near, far;
        near.Create();
        far.Create();
        harness::ShowAndWaitForPaint(near);
        CRepliesDlg& nearReplies = OpenReplies(near, {Rule("PING", "PONG")});
        CRepliesDlg& farReplies = OpenReplies(far, {Rule("PONG", "PING")});
        const unsigned short port = FreeTcpPort();
        harness::Connect(near, MODE_TCP_SERVER, 1470, port);
        harness::Connect(far, MODE_TCP_CLIENT, port, 1470);
        RunEventsFor(50);
        const int before = messages;
        far.m_outgoing.Enqueue(QByteArray("PING"), Clock::now());
        const ReplyRule& a = nearReplies.m_model->At(0);
        const ReplyRule& b = farReplies.m_model->At(0);
        const double seconds = until([&] { return a.limit.Paused() || b.limit.Paused(); });
        until([&] {
            return near.m_outgoing.Empty() && far.m_outgoing.Empty() &&
                   near.m_nRecvTotal == 4 * (1 + b.matched) && far.m_nRecvTotal == 4 * a.matched;
        });
        RunEventsFor(50);
        const bool loop = a.limit.Reason() == FiringLimit::PauseReason::Loop ||
                          b.limit.Reason() == FiringLimit::PauseReason::Loop;
        std::printf("loop of two windows : %s after %.3f s and %lld + %lld firings; %d message(s) shown\n",
                    loop ? "paused as a loop" : "NOT PAUSED AS A LOOP", seconds,
                    static_cast<long long>(a.matched), static_cast<long long>(b.matched), messages - before);
        ok = ok && loop;
        messages = before;
        near.SendCommand(IDC_BUTTON_CLOSE);
        far.SendCommand(IDC_BUTTON_CLOSE);
    }
    return ok && messages == 0;
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
    const bool loop = !wanted("loop") || Loop(messages);
    return latency && flood && thousand && runaway && loop ? 0 : 1;
}
