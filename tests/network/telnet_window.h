#pragma once

// Driving the Telnet window, which runs modally inside the main dialog's
// connect event: the test's steps run inside that modal loop.
#include "network/net_helpers.h"
#include "support/wait.h"

#include "telnet/tel_dlg.h"
#include "telnet/tel_edit.h"
#include "ui/korvo_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

namespace korvo::test {

// Runs `body` once the main dialog's Telnet window is up, then closes the
// window if the body left it open (a failed assertion must not leave the
// modal loop running). Returns whether the window came up in time.
inline bool WhileTelnetOpen(CKorvoDlg& dlg, const std::function<void(CTelDlg&)>& body,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    CTelDlg& tel = dlg.m_dlgTelnet;
    bool ran = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ran || QApplication::activeModalWidget() != &tel)
            return;
        poll.stop();
        ran = true;
        // Keys typed by the body go where a user's would.
        WaitUntil([&] { return QApplication::activeWindow() == &tel; }, std::chrono::seconds(2));
        body(tel);
        if (tel.isVisible())
            tel.EndDialog(0);
    });
    poll.start();
    WaitUntil([&] { return ran; }, timeout);
    poll.stop();
    return ran;
}

inline QString Shown(CTelDlg& tel)
{
    return tel.m_editTerminal->Terminal().Text().toString();
}

inline void ClickIn(CTelDlg& tel, int id)
{
    tel.Item<QAbstractButton>(id)->click();
}

// What the peer has received, once `n` bytes are in or the deadline passed.
inline std::string PeerBytes(int fd, size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    std::string got;
    WaitUntil(
        [&] {
            ReadSome(fd, &got);
            return got.size() >= n;
        },
        timeout);
    return got;
}

} // namespace korvo::test
