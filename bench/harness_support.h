#pragma once

// What the whole-program harnesses share: this process's memory figures, a
// loopback peer that sends one block over and over, a paint counter, and the
// event loop run until a condition holds.
#include "platform/message_box.h"
#include "ui/korvo_dlg.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace harness {

// Before the QApplication: the display given in DISPLAY (xcb), else
// offscreen, and no accessibility bridge, as a user without assistive
// technology runs Korvo.
inline void UseDisplayAsUsersDo()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    qputenv("NO_AT_BRIDGE", "1");
}

// Answers every message box with OK, prints it and counts it.
inline void LogMessageBoxes(int& count)
{
    SetMessageBoxHook([&count](const MessageBoxRequest& r) {
        ++count;
        std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
        return IDOK;
    });
}

// Runs the event loop as the program's own loop runs it, blocking between
// events, until the condition holds or the time is up.
inline bool RunUntil(const std::function<bool()>& condition, int seconds)
{
    QEventLoop loop;
    QTimer check;
    QDeadlineTimer deadline(seconds * 1000);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    check.start(10);
    if (!condition())
        loop.exec();
    return condition();
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 if absent.
inline long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

inline long ResidentKiB()
{
    return StatusKiB("VmRSS");
}

// A TCP socket listening on a free IPv4 loopback port, and the port.
inline int ListenOnLoopback(unsigned short& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 1);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
}

// Listens on a free IPv4 loopback port. Its thread sends `block` over and
// over to the first client until `total` bytes have gone (or the client
// goes, for an endless flood), then `trailer`, then shuts its side and waits
// for the client to close.
class LoopbackSender
{
public:
    LoopbackSender(std::string block, std::int64_t total, std::string trailer = {})
        : m_block(std::move(block)), m_trailer(std::move(trailer)), m_total(total)
    {
        m_listen = ListenOnLoopback(m_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~LoopbackSender()
    {
        m_thread.join();
        ::close(m_listen);
    }
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    unsigned short Port() const { return m_port; }
    // From the first byte sent to the client's close.
    double Seconds() const { return m_seconds; }

private:
    void Run()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        const auto start = std::chrono::steady_clock::now();
        std::int64_t sent = 0;
        while (sent < m_total) {
            const auto want =
                static_cast<std::size_t>(std::min<std::int64_t>(m_block.size(), m_total - sent));
            const ssize_t n = ::send(fd, m_block.data(), want, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        if (!m_trailer.empty())
            ::send(fd, m_trailer.data(), m_trailer.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char sink[256];
        while (::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ::close(fd);
    }

    const std::string m_block;
    const std::string m_trailer;
    const std::int64_t m_total;
    int m_listen = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
    std::atomic<double> m_seconds{0};
};

// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Runs the event loop as the program does, sleeping when there is nothing to do.
inline void RunEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The receive harnesses' peer data: a 64 KiB pattern, sent over and over.
inline std::string PatternBlock()
{
    std::string block(64 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 13);
    return block;
}

inline void ShowAndWaitForPaint(CKorvoDlg& dlg)
{
    PaintCounter painted;
    dlg.installEventFilter(&painted);
    dlg.show();
    QElapsedTimer clock;
    clock.start();
    while (painted.count == 0 && clock.elapsed() < 5000)
        RunEventsFor(5);
    dlg.removeEventFilter(&painted);
}

// Opens a session to 127.0.0.1 in the mode, as the user would with the fields.
inline void Connect(CKorvoDlg& dlg, int mode, unsigned short remotePort, unsigned short localPort)
{
    dlg.m_comboMode->setCurrentIndex(mode);
    dlg.SendCommand(IDC_COMBO_MODE, CBN_SELCHANGE);
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, QStringLiteral("127.0.0.1"));
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, QString::number(remotePort));
    dlg.SetDlgItemText(IDC_EDIT_LOCAL_PORT, QString::number(localPort));
    dlg.SendCommand(IDC_BUTTON_CONNECT);
}

} // namespace harness
