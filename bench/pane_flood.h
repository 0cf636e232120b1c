#pragma once

// A flood into the shown, full receive pane, measured the same way by every
// harness that compares the receive rate with and without an addition at work.
#include "harness_support.h"
#include "panes/pane_buffer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>

namespace harness {

// What a flood into the shown, full receive pane gave.
struct PaneFlood
{
    // MB/s, bytes and seconds from the moment the pane was full.
    double rate = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    // The counter shows every byte.
    bool exact = false;
    long rssFullKiB = 0;
    long rssMaxKiB = 0;
};

// Connects the shown dialog as a TCP client to the loopback port, where a
// peer sends `total` bytes as fast as it can, and measures the receive rate
// once the pane is full; stops early on a message box. Closes the session.
inline PaneFlood FloodFullPaneFrom(CKorvoDlg& dlg, unsigned short port, std::int64_t total, const int& messages)
{
    Connect(dlg, MODE_TCP_CLIENT, port, 1470);

    PaneFlood flood;
    QElapsedTimer clock;
    bool full = false;
    std::int64_t fullAt = 0;
    std::int64_t nextSample = 0;
    // Looks at the count every few milliseconds while the loop runs freely.
    QEventLoop loop;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!full && dlg.m_nRecvTotal >= PANE_CAPACITY) {
            full = true;
            fullAt = dlg.m_nRecvTotal;
            clock.start();
            flood.rssFullKiB = ResidentKiB();
            nextSample = fullAt;
        }
        if (full && dlg.m_nRecvTotal >= nextSample) {
            flood.rssMaxKiB = std::max(flood.rssMaxKiB, ResidentKiB());
            nextSample += 64 * 1024 * 1024;
        }
        if (dlg.m_nRecvTotal >= total || messages != 0 || dlg.m_nState == STATE_READY)
            loop.quit();
    });
    sampler.start(5);
    loop.exec();
    flood.seconds = clock.nsecsElapsed() / 1e9;
    // The counter's text may trail the total by one turn of the loop.
    RunEventsFor(50);
    flood.bytes = dlg.m_nRecvTotal - fullAt;
    flood.rate = flood.bytes / flood.seconds / 1e6;
    flood.exact =
        dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT) == QString::number(total) && dlg.m_nRecvTotal == total;
    dlg.SendCommand(IDC_BUTTON_CLOSE);
    return flood;
}

// The same from a peer sending PatternBlock().
inline PaneFlood FloodFullPane(CKorvoDlg& dlg, std::int64_t total, const int& messages)
{
    LoopbackSender peer(PatternBlock(), total);
    return FloodFullPaneFrom(dlg, peer.Port(), total, messages);
}

} // namespace harness
