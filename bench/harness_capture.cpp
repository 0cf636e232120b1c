// Receive throughput while capturing, through the real main dialog.
//
// A loopback peer sends as fast as it can into the shown receive pane (TCP
// client), in three rounds of three floods: without a capture, while
// capturing to a pcap, and while capturing to a text transcript (a quarter of
// the bytes: its file is five times as large). The best rate of each kind is
// compared. Each rate is measured once the pane is full;
// resident memory is sampled every few milliseconds. The counter and the
// size of each file are checked, then the file is deleted.
//
// The paced send while capturing is harness_send given a capture file.
//
// Runs on the display given in DISPLAY (xcb), else offscreen, with the
// accessibility bridge off:
//     xvfb-run -a build/bin/harness_capture [MiB, default 1024] [folder, default the temp folder] [pcap|txt]
// A third argument runs the run without a capture and that one only.
#include "harness_support.h"
#include "panes/hex_edit.h"
#include "platform/file_dialog.h"
#include "ui/korvo_dlg.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using harness::Connect;
using harness::PatternBlock;
using harness::ResidentKiB;
using harness::RunEventsFor;
using harness::ShowAndWaitForPaint;

constexpr std::int64_t kMiB = 1024 * 1024;
// What a capture adds to a block in the file: the pcap record and the IP
// and TCP headers; the transcript's header line is one per block.
constexpr int kBlock = 4096;
constexpr int kRounds = 3;

struct Run
{
    double rate = 0;    // MB/s once the pane was full
    long rssMaxKiB = 0; // sampled throughout
    bool exact = false; // counter and file as expected
};

// The file dialog answers with `path` (no capture when empty).
Run Flood(std::int64_t total, const QString& path, const int& messages)
{
    harness::LoopbackSender peer(PatternBlock(), total);
    CKorvoDlg dlg;
    dlg.Create();
    ShowAndWaitForPaint(dlg);
    if (!path.isEmpty()) {
        SetFileDialogHook([&](const FileDialogRequest&) { return FileDialogResult{true, path, 1}; });
        dlg.m_actCaptureStart->trigger();
        SetFileDialogHook({});
    }
    Connect(dlg, MODE_TCP_CLIENT, peer.Port(), 1470);

    Run run;
    QElapsedTimer clock;
    std::int64_t fullAt = -1;
    QEventLoop loop;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        run.rssMaxKiB = std::max(run.rssMaxKiB, ResidentKiB());
        if (fullAt < 0 && dlg.m_nRecvTotal >= PANE_CAPACITY) {
            fullAt = dlg.m_nRecvTotal;
            clock.start();
        }
        if (dlg.m_nRecvTotal >= total || messages != 0 || dlg.m_nState == STATE_READY)
            loop.quit();
    });
    sampler.start(5);
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    RunEventsFor(50);
    run.rate = (dlg.m_nRecvTotal - fullAt) / seconds / 1e6;
    run.exact =
        dlg.m_nRecvTotal == total && dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT) == QString::number(total);
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    if (path.isEmpty())
        return run;

    QElapsedTimer stop;
    stop.start();
    dlg.m_actCaptureStop->trigger();
    const double stopMs = stop.nsecsElapsed() / 1e6;
    const qint64 size = QFileInfo(path).size();
    const std::int64_t blocks = total / kBlock;
    const bool pcap = path.endsWith(QLatin1String(".pcap"));
    // pcap: the file header, per block a record header, IP and TCP headers,
    // the handshake and the end. Transcript: at least 77 characters per 16 bytes.
    const bool sized = pcap ? size >= 24 + total + blocks * (16 + 40) : size >= total / 16 * 77;
    std::printf("  file %s: %.1f MB%s; Stop took %.1f ms\n", qPrintable(path), size / 1e6,
                sized ? "" : " (TOO SHORT)", stopMs);
    run.exact = run.exact && sized && messages == 0;
    QFile::remove(path);
    return run;
}

void Print(const char* what, const Run& run, const Run* base)
{
    std::printf("%-28s: %8.1f MB/s", what, run.rate);
    if (base)
        std::printf(" = %5.1f %% of the run without", 100 * run.rate / base->rate);
    std::printf("; resident memory at most %.1f MB; counter %s\n", run.rssMaxKiB * 1024 / 1e6,
                run.exact ? "exact" : "WRONG");
}

} // namespace

int main(int argc, char** argv)
{
    harness::UseDisplayAsUsersDo();
    QApplication app(argc, argv);
    const std::int64_t total = (argc > 1 ? std::atoll(argv[1]) : 1024) * kMiB;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::tempPath();
    const QStorageInfo storage(folder);
    std::printf("platform %s; receiving %lld MiB; capturing into %s (%s)\n",
                qPrintable(QGuiApplication::platformName()), static_cast<long long>(total / kMiB),
                qPrintable(folder), storage.fileSystemType().constData());

    int messages = 0;
    harness::LogMessageBoxes(messages);
    const QDir dir(folder);
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const bool withPcap = only.isEmpty() || only == QLatin1String("pcap");
    const bool withText = only.isEmpty() || only == QLatin1String("txt");
    // One flood's rate varies by a quarter from run to run on a small
    // machine: the runs alternate, and the best of each kind is compared.
    Run none, pcap, text;
    pcap.exact = text.exact = true;
    bool exact = true;
    const auto keepBest = [&exact](Run& best, const Run& run) {
        exact = exact && run.exact;
        if (run.rate > best.rate)
            best = {run.rate, std::max(best.rssMaxKiB, run.rssMaxKiB), run.exact};
        else
            best.rssMaxKiB = std::max(best.rssMaxKiB, run.rssMaxKiB);
    };
    for (int round = 1; round <= kRounds; ++round) {
        std::printf("round %d of %d\n", round, kRounds);
        const Run run = Flood(total, QString(), messages);
        Print("  no capture", run, nullptr);
        keepBest(none, run);
        if (withPcap) {
            const Run captured = Flood(total, dir.filePath(QStringLiteral("harness-capture.pcap")), messages);
            Print("  capturing to pcap", captured, &run);
            keepBest(pcap, captured);
        }
        if (withText) {
            const Run captured = Flood(std::max<std::int64_t>(total / 4, 2 * PANE_CAPACITY),
                                       dir.filePath(QStringLiteral("harness-capture.txt")), messages);
            Print("  capturing to a transcript", captured, &run);
            keepBest(text, captured);
        }
    }
    std::printf("best of %d each\n", kRounds);
    Print("no capture", none, nullptr);
    if (withPcap)
        Print("capturing to pcap", pcap, &none);
    if (withText)
        Print("capturing to a transcript", text, &none);
    std::printf("peak resident memory of the process: %.1f MB (budget 64 MB)\n",
                harness::StatusKiB("VmHWM") * 1024 / 1e6);
    return exact && messages == 0 ? 0 : 1;
}
