// Receive throughput and responsiveness of the real main dialog.
//
// 1. TCP: a loopback peer sends as fast as it can, first into
//    `socat - > /dev/null` (what the peer and the loopback can do), then into
//    the shown receive pane in TCP client mode. Prints both rates measured
//    once the pane is full, checks the counter, samples resident memory.
// 2. UDP: a peer sends 1,400-byte datagrams as fast as it can for a few
//    seconds; prints datagrams per second sent, received and counted.
// 3. An endless TCP flood: how often the pane and the counter repaint, and
//    how long a click on CLEAR, then on Disconnect, takes to act.
// 4. TLS: the handshake against openssl s_server, as the time from CONNECT
//    to "Connected"; then the TCP flood of 1. plain and over TLS (the peer
//    on OpenSSL), three alternating rounds, the best of each.
//
// Runs on the display given in DISPLAY (xcb), else offscreen, with the
// accessibility bridge off:
//     xvfb-run -a build/bin/harness_receive [MiB, default 1024] [tcp|udp|flood|tls]
//     build/bin/harness_receive [MiB] [part]                  (offscreen)
#include "harness_support.h"
#include "pane_flood.h"
#include "tls_front.h"
#include "panes/hex_edit.h"
#include "platform/message_box.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using harness::Connect;
using harness::PaintCounter;
using harness::PatternBlock;
using harness::ResidentKiB;
using harness::RunEventsFor;
using harness::ShowAndWaitForPaint;

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr int kDatagram = 1400;

double MsSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

class Peer : public harness::LoopbackSender
{
public:
    explicit Peer(std::int64_t total) : LoopbackSender(PatternBlock(), total) {}
};

double SocatBaseline(std::int64_t total)
{
    Peer peer(total);
    QProcess socat;
    socat.setStandardOutputFile(QStringLiteral("/dev/null"));
    socat.start(
        QStringLiteral("socat"),
        {QStringLiteral("-u"), QStringLiteral("TCP4:127.0.0.1:%1").arg(peer.Port()), QStringLiteral("-")});
    socat.waitForFinished(600000);
    return peer.Seconds();
}

// Clicks a button the way input arrives: the press and release are queued
// from another thread while the GUI thread runs its loop. Returns the
// milliseconds from the click until the button's handler has run; `done`
// confirms that the click took effect.
double ClickFromOutside(QPushButton* button, const std::function<bool()>& done)
{
    std::atomic<bool> isPosted{false};
    Clock::time_point posted{};
    Clock::time_point acted{};
    // Connected after the dialog's own handler, so this runs once that returned.
    const auto connection = QObject::connect(button, &QPushButton::clicked, [&] { acted = Clock::now(); });
    // Made here: the first mouse event makes the pointing device, an object
    // of this thread.
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    const QPointF global = button->mapToGlobal(at);
    auto* press =
        new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    auto* release =
        new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
        posted = Clock::now();
        QCoreApplication::postEvent(button, press);
        QCoreApplication::postEvent(button, release);
        isPosted = true;
    });
    while (!isPosted || acted == Clock::time_point{})
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    user.join();
    QObject::disconnect(connection);
    if (!done())
        std::printf("the click on %s did not take effect\n", qPrintable(button->text()));
    return MsSince(posted, acted);
}

bool TcpThroughput(std::int64_t total, const int& messages)
{
    const double socatRate = total / SocatBaseline(total) / 1e6;
    std::printf("socat - > /dev/null : %8.1f MB/s\n", socatRate);

    CKorvoDlg dlg;
    dlg.Create();
    ShowAndWaitForPaint(dlg);
    const harness::PaneFlood flood = harness::FloodFullPane(dlg, total, messages);
    std::printf(
        "Korvo receive pane  : %8.1f MB/s = %.0f %% of socat (after the pane filled; %lld bytes in %.2f s)\n",
        flood.rate, 100 * flood.rate / socatRate, static_cast<long long>(flood.bytes), flood.seconds);
    std::printf("counter             : %s (%s)\n", qPrintable(dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT)),
                flood.exact ? "exact" : "WRONG");
    std::printf("resident memory     : %ld KiB when full, %ld KiB at most afterwards\n", flood.rssFullKiB,
                flood.rssMaxKiB);
    return flood.exact;
}

// The port of a bound UDP socket on loopback that is closed again.
unsigned short FreeUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool UdpRate(int seconds)
{
    CKorvoDlg dlg;
    dlg.Create();
    ShowAndWaitForPaint(dlg);
    const unsigned short port = FreeUdpPort();
    Connect(dlg, MODE_UDP, port, port);
    if (dlg.m_nState != STATE_UDP_OPEN)
        return false;
    PaintCounter paints;
    dlg.m_hexRecv->viewport()->installEventFilter(&paints);

    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> sent{0};
    std::thread sender([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        char datagram[kDatagram] = {};
        while (!stop) {
            if (::sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                kDatagram)
                ++sent;
        }
        ::close(fd);
    });
    RunEventsFor(seconds * 1000);
    const std::int64_t sentInTime = sent;
    const std::int64_t countedInTime = dlg.m_nRecvTotal / kDatagram;
    const int paintsInTime = paints.count;
    const double disconnectMs = ClickFromOutside(dlg.m_btnClose, [&] { return dlg.m_nState == STATE_READY; });
    stop = true;
    sender.join();
    RunEventsFor(100);
    const bool whole = dlg.m_nRecvTotal % kDatagram == 0 &&
                       dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT) == QString::number(dlg.m_nRecvTotal);
    std::printf("UDP 1,400-byte datagrams: %.0f/s sent, %.0f/s received and counted (%.1f %% of those sent; "
                "counter %s); pane repainted %.0f/s\n",
                double(sentInTime) / seconds, double(countedInTime) / seconds,
                100.0 * countedInTime / std::max<std::int64_t>(sentInTime, 1), whole ? "exact" : "WRONG",
                double(paintsInTime) / seconds);
    std::printf("UDP Disconnect in flood: %.1f ms from the click to Ready\n", disconnectMs);
    return whole && disconnectMs <= 250;
}

bool Responsiveness()
{
    Peer peer(INT64_MAX);
    CKorvoDlg dlg;
    dlg.Create();
    ShowAndWaitForPaint(dlg);
    PaintCounter panePaints, counterPaints;
    dlg.m_hexRecv->viewport()->installEventFilter(&panePaints);
    dlg.GetDlgItem(IDC_STATIC_RECV_COUNT)->installEventFilter(&counterPaints);
    Connect(dlg, MODE_TCP_CLIENT, peer.Port(), 1470);

    RunEventsFor(1000);
    const std::int64_t startBytes = dlg.m_nRecvTotal;
    const int startPane = panePaints.count, startCounter = counterPaints.count;
    constexpr int kFloodMs = 3000;
    RunEventsFor(kFloodMs);
    std::printf("endless flood       : %.0f MB/s; pane repainted %.0f/s, counter %.0f/s\n",
                (dlg.m_nRecvTotal - startBytes) / (kFloodMs / 1e3) / 1e6,
                (panePaints.count - startPane) / (kFloodMs / 1e3),
                (counterPaints.count - startCounter) / (kFloodMs / 1e3));

    double clearWorst = 0, clearSum = 0;
    constexpr int kClicks = 10;
    for (int i = 0; i < kClicks; ++i) {
        RunEventsFor(97);
        // Cleared: the count starts again from zero.
        const std::int64_t before = dlg.m_nRecvTotal;
        const double ms = ClickFromOutside(dlg.m_btnClear, [&] { return dlg.m_nRecvTotal < before; });
        clearWorst = std::max(clearWorst, ms);
        clearSum += ms;
    }
    std::printf("CLEAR during flood  : %.1f ms on average from the click, %.1f ms at worst (%d clicks)\n",
                clearSum / kClicks, clearWorst, kClicks);

    RunEventsFor(200);
    const double disconnectMs = ClickFromOutside(dlg.m_btnClose, [&] { return dlg.m_nState == STATE_READY; });
    std::printf("Disconnect in flood : %.1f ms from the click to Ready\n", disconnectMs);
    return clearWorst <= 250 && disconnectMs <= 250;
}

bool TlsFigures(std::int64_t total, const int& messages)
{
    CKorvoDlg dlg;
    dlg.Create();
    ShowAndWaitForPaint(dlg);
    harness::UseTls(dlg, true);

    // Handshakes: a fresh TCP connection and full handshake each time.
    unsigned short port = 0;
    ::close(harness::ListenOnLoopback(port));
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("c.pem")), key = dir.filePath(QStringLiteral("k.pem"));
    harness::MakeCertificate(cert, key);
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(QStringLiteral("openssl"),
                 {QStringLiteral("s_server"), QStringLiteral("-accept"),
                  QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-cert"), cert,
                  QStringLiteral("-key"), key, QStringLiteral("-quiet")});
    server.waitForStarted(5000);
    harness::RunUntil([&] { return harness::PortListening(port); }, 10);
    std::vector<double> handshakes;
    // Timed when the status line says so, not when the loop next looks.
    Clock::time_point connected{};
    QObject::connect(dlg.m_editStatus, &QLineEdit::textChanged, [&](const QString& text) {
        if (text == QLatin1String("Connected"))
            connected = Clock::now();
    });
    for (int i = 0; i < 30; ++i) {
        const auto start = Clock::now();
        Connect(dlg, MODE_TCP_CLIENT, port, 1470);
        if (!harness::RunUntil([&] { return dlg.m_nState == STATE_CONNECTED || messages != 0; }, 10) ||
            messages != 0)
            break;
        handshakes.push_back(MsSince(start, connected));
        dlg.SendCommand(IDC_BUTTON_CLOSE);
    }
    server.kill();
    server.waitForFinished(5000);
    std::sort(handshakes.begin(), handshakes.end());
    if (handshakes.size() == 30)
        std::printf("TLS handshake       : %.2f ms median, %.2f ms at most of 30 (CONNECT to Connected)\n",
                    handshakes[15], handshakes.back());
    else
        std::printf("TLS handshake       : FAILED after %zu\n", handshakes.size());

    dlg.hide();
    // Each flood in a window of its own, as harness_capture does.
    const auto flood = [&](bool overTls) {
        CKorvoDlg window;
        window.Create();
        ShowAndWaitForPaint(window);
        if (!overTls)
            return harness::FloodFullPane(window, total, messages);
        harness::UseTls(window, true);
        harness::TlsLoopbackSender peer(PatternBlock(), total);
        return harness::FloodFullPaneFrom(window, peer.Port(), total, messages);
    };
    harness::PaneFlood plain, tls;
    for (int round = 0; round < 3; ++round) {
        const harness::PaneFlood p = flood(false);
        const harness::PaneFlood t = flood(true);
        std::printf("round %d             : plain %8.1f MB/s%s, TLS %8.1f MB/s%s\n", round + 1, p.rate,
                    p.exact ? "" : " (count WRONG)", t.rate, t.exact ? "" : " (count WRONG)");
        if (p.rate > plain.rate)
            plain = p;
        if (t.rate > tls.rate)
            tls = t;
    }
    std::printf(
        "TLS receive pane    : %8.1f MB/s = %.0f %% of the plain flood's %.1f MB/s (best of 3 each)\n",
        tls.rate, 100 * tls.rate / plain.rate, plain.rate);
    return handshakes.size() == 30 && plain.exact && tls.exact;
}

} // namespace

int main(int argc, char** argv)
{
    harness::UseDisplayAsUsersDo();
    QApplication app(argc, argv);
    const std::int64_t total = (argc > 1 ? std::atoll(argv[1]) : 1024) * kMiB;
    std::printf("platform %s; receiving %lld MiB\n", qPrintable(QGuiApplication::platformName()),
                static_cast<long long>(total / kMiB));

    int messages = 0;
    harness::LogMessageBoxes(messages);
    // A second argument picks one part: tcp, udp or flood.
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto wanted = [&](const char* part) { return only.isEmpty() || only == QLatin1String(part); };
    const bool tcp = !wanted("tcp") || TcpThroughput(total, messages);
    const bool udp = !wanted("udp") || UdpRate(3);
    const bool responsive = !wanted("flood") || Responsiveness();
    const bool tls = !wanted("tls") || TlsFigures(total, messages);
    return tcp && udp && responsive && tls && messages == 0 ? 0 : 1;
}
