// A saved message repeated through the real main dialog and its Messages
// window to a loopback TCP peer, alone and then beside a transfer of the full
// send pane on the same connection; then a message with a counter and a
// CRC-32 computed at each send, alone, every frame checked at the peer.
//
// Prints, per run, how many of the messages the peer got, the span from the
// first to the last against (count - 1) x interval, and the gaps between
// arrivals (median, 99th percentile, longest); for the second run also the
// pane's time at the peer against the 2.048 s pacing floor, for the third
// how many frames carried the right counter and CRC. Budgets: all messages,
// span within 1 % of 9.99 s, median gap 10.0 ms, 99th percentile at most
// 12 ms, the pane within 110 % of its floor, every frame right.
//
// Runs on the display it is given (xvfb-run -a for a real X server); offscreen
// without one. The list and the profile go to a temporary folder.
//
// Usage: harness_messages [count, default 1000] [interval ms, default 10]
#include "harness_support.h"
#include "messages/byte_text.h"
#include "messages/messages_dlg.h"
#include "panes/hex_edit.h"
#include "platform/fonts.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using harness::RunUntil;
using Clock = std::chrono::steady_clock;

constexpr int kMessageSize = 16;
constexpr char kMessageByte = '#';
constexpr double kPaneFloorSeconds = 2.048;

// Takes one connection and notes when each message's last byte came, and
// when the first and last byte of the pane's stream came. The pane's bytes
// are letters, the message's are '#', so the two streams tell apart; a
// message with fields comes alone, so every 16 bytes are one, kept.
class TimingPeer
{
public:
    explicit TimingPeer(bool framed) : m_framed(framed)
    {
        m_fd = harness::ListenOnLoopback(m_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~TimingPeer()
    {
        m_thread.join();
        ::close(m_fd);
    }
    unsigned short Port() const { return m_port; }
    bool Done() const { return m_done; }
    const std::vector<Clock::time_point>& Arrivals() const { return m_arrivals; }
    const std::string& Frames() const { return m_frames; }
    std::int64_t PaneBytes() const { return m_paneBytes; }
    double PaneSeconds() const { return std::chrono::duration<double>(m_paneLast - m_paneFirst).count(); }

private:
    void Run()
    {
        const int conn = ::accept(m_fd, nullptr, nullptr);
        if (conn < 0) {
            m_done = true;
            return;
        }
        const timeval wait{30, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::vector<char> buffer(65536);
        int partial = 0;
        for (;;) {
            const ssize_t n = ::recv(conn, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            const auto now = Clock::now();
            if (m_framed)
                m_frames.append(buffer.data(), static_cast<size_t>(n));
            for (ssize_t i = 0; i < n; ++i) {
                if (m_framed || buffer[static_cast<size_t>(i)] == kMessageByte) {
                    if (++partial == kMessageSize) {
                        m_arrivals.push_back(now);
                        partial = 0;
                    }
                } else {
                    if (m_paneBytes++ == 0)
                        m_paneFirst = now;
                    m_paneLast = now;
                }
            }
        }
        ::close(conn);
        m_done = true;
    }

    bool m_framed;
    std::string m_frames;
    int m_fd = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    std::vector<Clock::time_point> m_arrivals;
    std::int64_t m_paneBytes = 0;
    Clock::time_point m_paneFirst{}, m_paneLast{};
};

// When the program handed each message to the system, from the taps.
class SendTimes : public SessionTap
{
public:
    explicit SendTimes(bool framed) : m_framed(framed) {}
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr*, const TapTime& time) override
    {
        for (int i = 0; i < length; ++i) {
            if ((m_framed || data[i] == kMessageByte) && ++m_partial == kMessageSize) {
                times.push_back(time.steady);
                m_partial = 0;
            }
        }
    }
    std::vector<Clock::time_point> times;

private:
    bool m_framed;
    int m_partial = 0;
};

// Frames of "#" x 10, {seq:u16be} and {crc32} that carry the counter of their
// place and the CRC of the bytes before it.
int RightFrames(const std::string& frames)
{
    int right = 0;
    for (size_t at = 0; at + kMessageSize <= frames.size(); at += kMessageSize) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(frames.data() + at);
        const auto k = static_cast<std::uint32_t>(at / kMessageSize);
        const std::uint32_t crc = FieldChecksum(FieldKind::Crc32, p, 12);
        const bool ok = p[10] == ((k >> 8) & 0xFF) && p[11] == (k & 0xFF) && p[12] == (crc & 0xFF) &&
                        p[13] == ((crc >> 8) & 0xFF) && p[14] == ((crc >> 16) & 0xFF) && p[15] == crc >> 24;
        right += ok ? 1 : 0;
    }
    return right;
}

std::vector<double> SortedGaps(const std::vector<Clock::time_point>& times)
{
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    std::sort(gaps.begin(), gaps.end());
    return gaps;
}

double Quantile(const std::vector<double>& sorted, double q)
{
    return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

// One run of the message in `row` (1: the one with fields); returns whether
// every budget held.
bool RunOnce(CKorvoDlg& dlg, int count, int intervalMs, bool withPane, int row = 0)
{
    const bool framed = row == 1;
    TimingPeer peer(framed);
    dlg.m_comboMode->setCurrentIndex(MODE_TCP_CLIENT);
    dlg.SendCommand(IDC_COMBO_MODE, CBN_SELCHANGE);
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(peer.Port()));
    dlg.SendCommand(IDC_BUTTON_CONNECT);
    if (!RunUntil([&] { return dlg.m_nState == STATE_CONNECTED; }, 10)) {
        std::printf("the session did not open\n");
        return false;
    }

    CMessagesDlg& win = *dlg.m_pMessagesDlg;
    SendTimes sendTimes(framed);
    dlg.m_taps.Add(&sendTimes);
    win.m_panel->SelectRow(row);
    if (withPane)
        dlg.SendCommand(IDC_BUTTON_SEND);
    win.m_btnSend->click();
    const double expected = (count - 1) * intervalMs / 1000.0;
    const bool sent = RunUntil([&] { return win.m_sender.IsIdle(); }, static_cast<int>(expected * 2) + 10);
    const bool paneDone = !withPane || RunUntil([&] { return dlg.m_nSendCount == PANE_CAPACITY; }, 30);
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    dlg.m_taps.Remove(&sendTimes);
    RunUntil([&] { return peer.Done(); }, 30);

    const auto& arrivals = peer.Arrivals();
    const std::vector<double> gaps = SortedGaps(arrivals);
    const auto at = [&](double q) { return Quantile(gaps, q); };
    // The same gaps where the messages left the program: its part of a late
    // arrival, apart from the system's.
    const std::vector<double> sendGaps = SortedGaps(sendTimes.times);
    const double span =
        arrivals.size() < 2 ? 0.0 : std::chrono::duration<double>(arrivals.back() - arrivals.front()).count();
    const bool all = sent && static_cast<int>(arrivals.size()) == count;
    const bool spanOk = std::abs(span - expected) <= 0.01 * expected;
    const bool gapsOk = std::abs(at(0.5) - intervalMs) <= 0.05 && at(0.99) <= intervalMs * 1.2;

    std::printf("%s: peer got %zu of %d messages; span %.3f s against %.3f s (%+.2f %%)%s\n",
                withPane ? "beside the pane"
                : framed ? "with a counter and a CRC-32"
                         : "alone",
                arrivals.size(), count, span, expected,
                expected > 0 ? 100.0 * (span - expected) / expected : 0.0,
                all && spanOk ? "" : "  OVER BUDGET");
    std::printf("     gaps between arrivals: median %.2f ms, 99th %.2f ms, longest %.2f ms%s\n", at(0.5),
                at(0.99), gaps.empty() ? 0.0 : gaps.back(), gapsOk ? "" : "  OVER BUDGET");
    std::printf("     gaps between sends:    median %.2f ms, 99th %.2f ms, longest %.2f ms\n",
                Quantile(sendGaps, 0.5), Quantile(sendGaps, 0.99), sendGaps.empty() ? 0.0 : sendGaps.back());
    bool paneOk = true;
    if (withPane) {
        paneOk =
            paneDone && peer.PaneBytes() == PANE_CAPACITY && peer.PaneSeconds() <= 1.10 * kPaneFloorSeconds;
        std::printf("     pane: peer got %lld bytes in %.3f s = %.3f x the %.3f s floor%s\n",
                    static_cast<long long>(peer.PaneBytes()), peer.PaneSeconds(),
                    peer.PaneSeconds() / kPaneFloorSeconds, kPaneFloorSeconds, paneOk ? "" : "  OVER BUDGET");
    }
    bool framesOk = true;
    if (framed) {
        const int right = RightFrames(peer.Frames());
        framesOk = right == count;
        std::printf("     frames with the right counter and CRC: %d of %d%s\n", right, count,
                    framesOk ? "" : "  WRONG");
    }
    return all && spanOk && gapsOk && paneOk && framesOk;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    const int intervalMs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    // The list and the window's place stay out of the user's own profile.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    harness::UseDisplayAsUsersDo();
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    std::printf("platform: %s; %d messages of %d bytes every %d ms\n",
                qPrintable(QGuiApplication::platformName()), count, kMessageSize, intervalMs);

    int messages = 0;
    harness::LogMessageBoxes(messages);

    CKorvoDlg dlg;
    dlg.Create();
    dlg.show();
    std::vector<char> pane(PANE_CAPACITY);
    for (size_t i = 0; i < pane.size(); ++i)
        pane[i] = static_cast<char>('a' + i % 26);
    dlg.m_hexSend->SetData(PANE_CAPACITY, pane.data());

    dlg.OnMessages();
    SavedMessage message;
    message.name = QStringLiteral("poll");
    message.data = QByteArray(kMessageSize, kMessageByte);
    message.repeatMs = intervalMs;
    message.count = count;
    dlg.m_pMessagesDlg->m_model->Insert(0, message);
    message.name = QStringLiteral("poll with fields");
    message.data =
        ParseEscapedBytes(u"##########{seq:u16be}{crc32}", BYTE_TEXT_MAX, FieldUse::Allowed).Template();
    dlg.m_pMessagesDlg->m_model->Insert(1, message);

    bool ok = RunOnce(dlg, count, intervalMs, false);
    ok = RunOnce(dlg, count, intervalMs, true) && ok;
    ok = RunOnce(dlg, count, intervalMs, false, 1) && ok;
    return ok && messages == 0 ? 0 : 1;
}
