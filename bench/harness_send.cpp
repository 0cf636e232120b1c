// Send of the full send pane through the real main dialog, its progress
// window shown, to a loopback peer that echoes every byte back, so that both
// panes end full: first over TCP (the dialog as client), then over UDP.
//
// Prints, per transport, the time from the peer's first byte to its last
// against the pacing floor of 2,048 ticks of 512 bytes (2.048 s), whether the
// peer got the pane byte for byte, and the peak resident memory of the
// process once both panes are full.
//
// Given a file, the whole run is captured to it (.pcap or .txt), as a user
// would capture a transfer; the file is kept. Given "tls", the TCP transfer
// goes over TLS as well (socat in front of the peer), each 512-byte chunk a
// record of its own, after the plain one.
//
// Runs on the display it is given (xvfb-run -a for a real X server, the way a
// user's desktop runs it); offscreen without one.
//
// Usage: harness_send [capture file | tls]
#include "harness_support.h"
#include "tls_front.h"
#include "panes/hex_edit.h"
#include "platform/file_dialog.h"
#include "platform/fonts.h"
#include "platform/message_box.h"
#include "progress/send_dlg.h"
#include "ui/korvo_dlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
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

using harness::RunUntil;
using harness::StatusKiB;

using Clock = std::chrono::steady_clock;
constexpr double kFloorSeconds = 2.048;

std::vector<char> Pattern(int n)
{
    std::vector<char> bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((i * 31 + i / 509) & 0xFF);
    return bytes;
}

sockaddr_in LoopbackAddress(unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

unsigned short BoundPort(int fd)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A loopback peer on its own thread: takes `total` bytes, echoes each piece
// back at once, notes when the first and the last byte came.
class EchoPeer
{
public:
    EchoPeer(int type, int total) : m_type(type), m_total(total)
    {
        m_fd = ::socket(AF_INET, type, 0);
        const sockaddr_in a = LoopbackAddress(0);
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (type == SOCK_STREAM)
            ::listen(m_fd, 1);
        const timeval wait{10, 0}; // gives up when the sender stalls
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        m_port = BoundPort(m_fd);
        m_thread = std::thread([this] { Run(); });
    }
    ~EchoPeer()
    {
        m_thread.join();
        if (m_conn >= 0)
            ::close(m_conn);
        ::close(m_fd);
    }
    unsigned short Port() const { return m_port; }
    bool Done() const { return m_done; }
    double Seconds() const { return std::chrono::duration<double>(m_last - m_first).count(); }
    const std::vector<char>& Received() const { return m_received; }
    int Datagrams() const { return m_datagrams; }
    int OddDatagrams() const { return m_oddDatagrams; }
    // The spread of the gaps between arrivals: late ticks show here.
    void PrintGaps() const
    {
        std::vector<double> g = m_gaps;
        if (g.empty())
            return;
        std::sort(g.begin(), g.end());
        const auto at = [&](double q) {
            return g[static_cast<size_t>(q * static_cast<double>(g.size() - 1))];
        };
        std::printf(
            "     gaps between arrivals: median %.0f us, 90th %.0f us, 99th %.0f us, longest %.0f us\n",
            at(0.5), at(0.9), at(0.99), g.back());
    }

private:
    void Run()
    {
        int fd = m_fd;
        if (m_type == SOCK_STREAM) {
            m_conn = ::accept(m_fd, nullptr, nullptr);
            if (m_conn < 0) {
                m_done = true;
                return;
            }
            const timeval wait{10, 0};
            ::setsockopt(m_conn, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            fd = m_conn;
        }
        std::vector<char> buffer(65536);
        while (static_cast<int>(m_received.size()) < m_total) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0)
                break;
            const auto now = Clock::now();
            if (m_received.empty())
                m_first = now;
            else
                m_gaps.push_back(std::chrono::duration<double, std::micro>(now - m_last).count());
            m_last = now;
            m_received.insert(m_received.end(), buffer.begin(), buffer.begin() + n);
            if (m_type == SOCK_DGRAM) {
                ++m_datagrams;
                m_oddDatagrams += n != 512;
                ::sendto(fd, buffer.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from),
                         length);
            } else {
                for (ssize_t off = 0; off < n;) {
                    const ssize_t w =
                        ::send(fd, buffer.data() + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
                    if (w <= 0)
                        break;
                    off += w;
                }
            }
        }
        m_done = true;
    }

    int m_type;
    int m_total;
    int m_fd = -1;
    int m_conn = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    Clock::time_point m_first{}, m_last{};
    std::vector<char> m_received;
    std::vector<double> m_gaps; // microseconds between arrivals
    int m_datagrams = 0;
    int m_oddDatagrams = 0;
};

// One transfer of the full pane; returns whether it went out exactly.
bool SendOnce(CKorvoDlg& dlg, int type, const std::vector<char>& pane, bool tls = false)
{
    const bool udp = type == SOCK_DGRAM;
    const int total = static_cast<int>(pane.size());
    EchoPeer peer(type, total);
    std::unique_ptr<harness::TlsFront> front;
    if (tls)
        front = std::make_unique<harness::TlsFront>(peer.Port());
    harness::UseTls(dlg, tls);
    const std::int64_t recvBefore = dlg.m_nRecvTotal;

    dlg.m_comboMode->setCurrentIndex(udp ? MODE_UDP : MODE_TCP_CLIENT);
    dlg.SendCommand(IDC_COMBO_MODE, CBN_SELCHANGE);
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(front ? front->Port() : peer.Port()));
    if (udp) {
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in any = LoopbackAddress(0);
        ::bind(probe, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        dlg.SetDlgItemText(IDC_EDIT_LOCAL_PORT, QString::number(BoundPort(probe)));
        ::close(probe);
    }
    dlg.SendCommand(IDC_BUTTON_CONNECT);
    if (!RunUntil([&] { return dlg.m_nState == (udp ? STATE_UDP_OPEN : STATE_CONNECTED); }, 10)) {
        std::printf("%s: the session did not open\n", udp ? "UDP" : tls ? "TLS" : "TCP");
        return false;
    }

    const long rssBefore = StatusKiB("VmRSS");
    dlg.SendCommand(IDC_BUTTON_SEND);
    const bool finished = RunUntil(
        [&] { return peer.Done() && dlg.m_nSendCount == total && dlg.m_nRecvTotal - recvBefore >= total; },
        30);
    const bool exact = finished && peer.Received() == pane;
    const bool shown = dlg.m_pSendDlg->isVisible() && dlg.m_pSendDlg->GetDlgItemText(IDC_STATIC_SEND_COUNT) ==
                                                          QStringLiteral("1048576 / 1048576");

    const double seconds = peer.Seconds();
    std::printf("%s: peer got %zu bytes%s in %.3f s from first to last byte = %.3f x the %.3f s floor%s\n",
                udp   ? "UDP"
                : tls ? "TLS"
                      : "TCP",
                peer.Received().size(), exact ? " (exact)" : " (WRONG)", seconds, seconds / kFloorSeconds,
                kFloorSeconds, seconds <= 1.10 * kFloorSeconds ? "" : "  OVER BUDGET");
    peer.PrintGaps();
    if (udp)
        std::printf("     %d datagrams, %d not of 512 bytes\n", peer.Datagrams(), peer.OddDatagrams());
    std::printf(
        "     echo back in the receive pane: %lld bytes; progress window %s; resident %ld KiB before, %ld "
        "KiB after\n",
        static_cast<long long>(dlg.m_nRecvTotal - recvBefore), shown ? "shows the full count" : "WRONG",
        rssBefore, StatusKiB("VmRSS"));
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    return exact && shown;
}

} // namespace

int main(int argc, char** argv)
{
    harness::UseDisplayAsUsersDo();
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));

    int messages = 0;
    harness::LogMessageBoxes(messages);

    CKorvoDlg dlg;
    dlg.Create();
    dlg.show();
    const std::vector<char> pane = Pattern(PANE_CAPACITY);
    dlg.m_hexSend->SetData(PANE_CAPACITY, pane.data());

    const bool tls = argc > 1 && QByteArray(argv[1]) == "tls";
    const QString capture = argc > 1 && !tls ? QString::fromLocal8Bit(argv[1]) : QString();
    if (!capture.isEmpty()) {
        SetFileDialogHook([&](const FileDialogRequest&) { return FileDialogResult{true, capture, 1}; });
        dlg.m_actCaptureStart->trigger();
        SetFileDialogHook({});
        std::printf("capturing to %s\n", qPrintable(capture));
    }
    bool ok = SendOnce(dlg, SOCK_STREAM, pane);
    if (tls)
        ok = SendOnce(dlg, SOCK_STREAM, pane, true) && ok;
    ok = SendOnce(dlg, SOCK_DGRAM, pane) && ok;
    if (!capture.isEmpty()) {
        dlg.m_actCaptureStop->trigger();
        std::printf("capture: %lld bytes\n", static_cast<long long>(QFileInfo(capture).size()));
    }
    std::printf("peak resident memory, both panes full: %ld KiB (%.1f MB; budget 64 MB)\n",
                StatusKiB("VmHWM"), StatusKiB("VmHWM") * 1024 / 1e6);
    return ok && messages == 0 ? 0 : 1;
}
