// Telnet text through the engine and the terminal, with the 300-line trim.
//
// 1. The whole program: the main dialog's TELNET to a loopback peer that
//    sends text lines (CR LF endings) as fast as it can, then closes. Timed
//    from the TELNET command to "Connection closed" on the screen, which
//    comes only after every byte was read and shown. Resident memory is
//    sampled along the way.
// 2. The terminal alone: the same text handed to the shown terminal in
//    reads of 1,024 bytes, with the event loop run every 64 reads, so the
//    figure is what the engine, the text and the painting cost without the
//    socket's event delivery.
//
// Runs on the display it is given (xvfb-run -a for a real X server), else
// offscreen. Usage: harness_telnet [MiB, default 32]
#include "harness_support.h"
#include "platform/message_box.h"
#include "telnet/tel_dlg.h"
#include "telnet/tel_edit.h"
#include "ui/korvo_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

using harness::PaintCounter;
using harness::ResidentKiB;

constexpr std::int64_t kMiB = 1024 * 1024;

// 800 lines of 80 bytes: a number, text, CR LF.
std::string TextBlock()
{
    std::string block;
    for (int i = 0; i < 800; ++i) {
        char line[81];
        std::snprintf(line, sizeof line, "%06d %-71.71s\r\n", i,
                      "the quick brown fox jumps over the lazy dog, 0123456789, THE QUICK BROWN FOX");
        block += line;
    }
    return block;
}

// Sends `total` bytes of text (whole lines) to the first client, then the
// line "END", and closes.
class Peer : public harness::LoopbackSender
{
public:
    explicit Peer(std::int64_t total) : LoopbackSender(TextBlock(), total / 80 * 80, "END\r\n") {}
};

struct Result
{
    double seconds = 0;
    int paints = 0;
    long rssStart = 0;
    long rssMax = 0;
    bool complete = false;
};

Result WholeProgram(std::int64_t total)
{
    Result result;
    Peer peer(total);
    CKorvoDlg dlg;
    dlg.Create();
    dlg.show();
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(peer.Port()));

    CTelDlg& tel = dlg.m_dlgTelnet;
    PaintCounter counter;
    tel.m_editTerminal->viewport()->installEventFilter(&counter);
    QElapsedTimer clock;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!tel.isVisible())
            return;
        if (result.rssStart == 0)
            result.rssStart = ResidentKiB();
        result.rssMax = std::max(result.rssMax, ResidentKiB());
        if (tel.m_editTerminal->IsReadOnly()) {
            result.seconds = clock.nsecsElapsed() / 1e9;
            result.paints = counter.count;
            result.complete = tel.m_editTerminal->Terminal().Text().endsWith(u"\nEND\nConnection closed\n");
            tel.EndDialog(0);
        }
    });
    watch.start();
    // From the command on: the connect is a few hundred microseconds of it.
    clock.start();
    dlg.SendCommand(IDC_BUTTON_TELNET);
    // The window runs modally inside the connect event; this returns when it closes.
    while (dlg.m_nState != STATE_READY || dlg.m_bTelnetActive)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
    return result;
}

Result TerminalAlone(std::int64_t total)
{
    Result result;
    CTelDlg tel;
    tel.SetSession(nullptr, 1470);
    tel.Create();
    tel.show();
    QCoreApplication::processEvents();
    const std::string block = TextBlock();
    TelnetEngine& engine = tel.m_editTerminal->Engine();
    result.rssStart = ResidentKiB();
    QElapsedTimer clock;
    clock.start();
    std::int64_t done = 0;
    std::size_t at = 0;
    for (int reads = 1; done < total; ++reads) {
        const int n = static_cast<int>(std::min<std::int64_t>(TELNET_READ_CHUNK, total - done));
        if (at + static_cast<std::size_t>(n) > block.size())
            at = 0;
        engine.Process(reinterpret_cast<const std::uint8_t*>(block.data() + at), n);
        at += static_cast<std::size_t>(n);
        done += n;
        if (reads % 64 == 0)
            QCoreApplication::processEvents();
        if (reads % 4096 == 0)
            result.rssMax = std::max(result.rssMax, ResidentKiB());
    }
    QCoreApplication::processEvents();
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.complete = tel.m_editTerminal->Terminal().Rows() <= TELNET_MAX_LINES + 64;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    harness::UseDisplayAsUsersDo();
    QApplication app(argc, argv);
    const std::int64_t total = (argc > 1 ? std::atoll(argv[1]) : 32) * kMiB;
    std::printf("platform %s, %lld MiB of 80-byte text lines\n", qPrintable(QGuiApplication::platformName()),
                static_cast<long long>(total / kMiB));
    int messages = 0;
    harness::LogMessageBoxes(messages);

    const Result whole = WholeProgram(total);
    std::printf(
        "TELNET from a loopback peer : %6.1f MB/s (%.2f s, %d repaints), %s; resident %ld KiB at the start, "
        "%ld KiB at most\n",
        total / whole.seconds / 1e6, whole.seconds, whole.paints, whole.complete ? "all shown" : "INCOMPLETE",
        whole.rssStart, whole.rssMax);
    const Result alone = TerminalAlone(total);
    std::printf(
        "terminal alone, 1,024-byte reads: %6.1f MB/s (%.2f s), rows %s; resident %ld KiB, %ld KiB at most\n",
        total / alone.seconds / 1e6, alone.seconds, alone.complete ? "bounded" : "UNBOUNDED", alone.rssStart,
        alone.rssMax);
    return whole.complete && alone.complete && messages == 0 ? 0 : 1;
}
