// Receive throughput into the shown receive pane, once the pane is full.
//
// A loopback peer sends as fast as it can, first into `socat - > /dev/null`
// (what the peer and the loopback can do), then into the real main dialog
// in TCP client mode on the offscreen platform. Prints both rates, checks the
// counter and samples resident memory along the way.
//
// Usage: harness_receive [MiB to receive, default 1024]
#include "panes/hex_edit.h"
#include "platform/message_box.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Listens on a free loopback port; the thread sends `total` bytes to the first
// client as fast as it can, then closes.
class Peer {
public:
    explicit Peer(std::int64_t total) : m_total(total)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t length = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Peer()
    {
        m_thread.join();
        ::close(m_listen);
    }
    unsigned short Port() const { return m_port; }
    double Seconds() const { return m_seconds; }

private:
    void Run()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        std::vector<unsigned char> block(64 * 1024);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<unsigned char>(i * 13);
        const auto start = std::chrono::steady_clock::now();
        std::int64_t sent = 0;
        while (sent < m_total) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(block.size(), m_total - sent));
            const ssize_t n = ::send(fd, block.data(), want, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::shutdown(fd, SHUT_WR);
        char sink[256];
        while (::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ::close(fd);
    }

    std::int64_t m_total;
    int m_listen = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
    std::atomic<double> m_seconds{0};
};

double SocatBaseline(std::int64_t total)
{
    Peer peer(total);
    QProcess socat;
    socat.setStandardOutputFile(QStringLiteral("/dev/null"));
    socat.start(QStringLiteral("socat"), {QStringLiteral("-u"), QStringLiteral("TCP4:127.0.0.1:%1").arg(peer.Port()),
                                          QStringLiteral("-")});
    socat.waitForFinished(600000);
    return peer.Seconds();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::int64_t total = (argc > 1 ? std::atoll(argv[1]) : 1024) * kMiB;
    std::printf("receiving %lld MiB\n", static_cast<long long>(total / kMiB));

    const double socatSeconds = SocatBaseline(total);
    std::printf("socat - > /dev/null : %8.1f MB/s\n", total / socatSeconds / 1e6);

    int messages = 0;
    SetMessageBoxHook([&](const MessageBoxRequest& r) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
        return IDOK;
    });
    Peer peer(total);
    CKorvoDlg dlg;
    dlg.Create();
    dlg.show();
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(peer.Port()));
    dlg.SendCommand(IDC_BUTTON_CONNECT);

    QElapsedTimer clock;
    bool full = false;
    std::int64_t fullAt = 0;
    long rssFull = 0, rssMax = 0;
    std::int64_t nextSample = 0;
    while (dlg.m_nRecvTotal < total && messages == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!full && dlg.m_nRecvTotal >= PANE_CAPACITY) {
            full = true;
            fullAt = dlg.m_nRecvTotal;
            clock.start();
            rssFull = ResidentKiB();
            nextSample = fullAt;
        }
        if (full && dlg.m_nRecvTotal >= nextSample) {
            rssMax = std::max(rssMax, ResidentKiB());
            nextSample += 64 * kMiB;
        }
        if (dlg.m_nState == STATE_READY && dlg.m_nRecvTotal < total)
            break;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const bool exact = dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT) == QString::number(total) && dlg.m_nRecvTotal == total;
    std::printf("Korvo receive pane  : %8.1f MB/s (after the pane filled; %lld bytes in %.2f s)\n",
                (dlg.m_nRecvTotal - fullAt) / seconds / 1e6, static_cast<long long>(dlg.m_nRecvTotal - fullAt),
                seconds);
    std::printf("counter             : %s (%s)\n", qPrintable(dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT)),
                exact ? "exact" : "WRONG");
    std::printf("resident memory     : %ld KiB when full, %ld KiB at most afterwards\n", rssFull, rssMax);
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    return exact && messages == 0 ? 0 : 1;
}
