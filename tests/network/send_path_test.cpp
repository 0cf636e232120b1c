// Sending the send pane through the real main dialog and its progress window,
// to real peers on loopback.
#include "network/net_helpers.h"
#include "network/session_fixture.h"

#include "panes/hex_edit.h"
#include "platform/spin_button.h"
#include "progress/send_dlg.h"
#include "progress/text_progress_ctrl.h"

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

std::string Pattern(int n)
{
    std::string bytes(static_cast<size_t>(n), '\0');
    for (int i = 0; i < n; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

class SendPath : public SessionTest
{
protected:
    CSendDlg& Progress() { return *dlg->m_pSendDlg; }
    QString Text(int id) { return Progress().GetDlgItemText(id); }
    QString Buttons() { return Text(IDC_BUTTON_PAUSE) + QLatin1Char('/') + Text(IDC_BUTTON_CANCEL_SEND); }
    void ClickProgress(int id) { Progress().Item<QPushButton>(id)->click(); }
    void SetPane(const std::string& bytes)
    {
        dlg->m_hexSend->SetData(static_cast<int>(bytes.size()), bytes.data());
    }

    // Connects the dialog as a TCP client to a loopback listener; returns the peer.
    Fd ConnectClient(const Fd& listener, int family = AF_INET)
    {
        SetFields(family == AF_INET6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"),
                  LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_TRUE(WaitStatus(QStringLiteral("Connected")));
        return Fd(::accept(listener.get(), nullptr, nullptr));
    }
    // Reads from the peer, the event loop running, until `n` bytes are there.
    bool ReadUntil(int fd, std::string& got, size_t n, std::chrono::milliseconds timeout = seconds(20))
    {
        return WaitUntil(
            [&] {
                while (got.size() < n && ReadSome(fd, &got) > 0) {
                }
                return got.size() >= n;
            },
            timeout);
    }
    // Small segments, a small receive window at a peer that reads nothing
    // for a while, and a small send buffer here: the send that fills the
    // buffer comes back short, the next one would block.
    Fd ConnectToSlowReader()
    {
        Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
        const int small = 4096;
        const int segment = 88;
        setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        setsockopt(listener.get(), IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
        socklen_t length;
        const sockaddr_storage a = Loopback(AF_INET, 0, &length);
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&a), length);
        ::listen(listener.get(), 1);
        Fd peer = ConnectClient(listener);
        setsockopt(dlg->m_sock.m_hSocket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        return peer;
    }
    bool Sent(int count)
    {
        return WaitUntil([&] { return dlg->m_nSendCount >= count; }, seconds(20));
    }
    bool CountStays(int count)
    {
        return !WaitUntil([&] { return dlg->m_nSendCount != count; }, std::chrono::milliseconds(100));
    }
};

TEST_F(SendPath, FullPaneOverTcpArrivesExactlyAndTheWindowCompletes)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    const std::string pane = Pattern(PANE_CAPACITY);
    SetPane(pane);

    Click(IDC_BUTTON_SEND);
    EXPECT_TRUE(Progress().isVisible());
    EXPECT_EQ("Pause/Cancel", Buttons());
    EXPECT_EQ("0 / 1048576", Text(IDC_STATIC_SEND_COUNT));
    EXPECT_EQ("00 : 00 : 00 000", Text(IDC_STATIC_SEND_TIME));
    EXPECT_EQ("0%", Progress().m_progress->text());

    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, pane.size()));
    EXPECT_TRUE(got == pane);
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_EQ("1048576 / 1048576", Text(IDC_STATIC_SEND_COUNT));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d \\d\\d\\d\\]$"))
                    .match(Text(IDC_STATIC_SEND_TIME))
                    .hasMatch())
        << Text(IDC_STATIC_SEND_TIME).toStdString();

    // What a screen reader reads off the window.
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(Progress().m_progress);
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ(QAccessible::ProgressBar, bar->role());
    EXPECT_EQ("100.0%", bar->text(QAccessible::Name));
    EXPECT_EQ(PANE_CAPACITY, bar->valueInterface()->currentValue().toInt());
    EXPECT_EQ(PANE_CAPACITY, bar->valueInterface()->maximumValue().toInt());
    EXPECT_EQ("1048576 / 1048576",
              QAccessible::queryAccessibleInterface(Progress().GetDlgItem(IDC_STATIC_SEND_COUNT))
                  ->text(QAccessible::Name));
    EXPECT_EQ("Restart", QAccessible::queryAccessibleInterface(Progress().GetDlgItem(IDC_BUTTON_PAUSE))
                             ->text(QAccessible::Name));
    EXPECT_EQ("Korvo v1.4A (2013/05/31)", Progress().windowTitle());

    // Restart takes the pane's length at that moment.
    dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QStringLiteral("1000"));
    Click(IDC_BUTTON_RESIZE);
    ClickProgress(IDC_BUTTON_PAUSE);
    EXPECT_EQ("Pause/Cancel", Buttons());
    got.clear();
    ASSERT_TRUE(ReadUntil(peer.get(), got, 1000));
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_TRUE(got == pane.substr(0, 1000));
    EXPECT_EQ("1000 / 1000", Text(IDC_STATIC_SEND_COUNT));

    // Close only hides the window.
    ClickProgress(IDC_BUTTON_CANCEL_SEND);
    EXPECT_FALSE(Progress().isVisible());
    EXPECT_EQ(0, dlg->m_bSendPaused);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SendPath, UdpSendsOneDatagramPerChunk)
{
    SetMode(MODE_UDP);
    // No remote address means this machine, in the family of the open socket.
    const struct
    {
        const char* remote;
        int family;
    } cases[] = {{"127.0.0.1", AF_INET}, {"::1", AF_INET6}, {"", AF_INET}};
    for (const auto& c : cases) {
        const int family = c.family;
        SCOPED_TRACE(c.remote);
        Fd receiver(::socket(family, SOCK_DGRAM, 0));
        socklen_t length;
        const sockaddr_storage a = Loopback(family, 0, &length);
        ASSERT_EQ(0, ::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&a), length));
        SetFields(QString::fromLatin1(c.remote), LocalPort(receiver.get()), FreePort(SOCK_DGRAM, family));
        Click(IDC_BUTTON_CONNECT);
        ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

        const std::string pane = Pattern(1000);
        SetPane(pane);
        Click(IDC_BUTTON_SEND);
        std::vector<std::string> datagrams;
        ASSERT_TRUE(WaitUntil([&] {
            std::string d;
            if (ReadSome(receiver.get(), &d) > 0)
                datagrams.push_back(d);
            return datagrams.size() == 2;
        }));
        EXPECT_EQ(512u, datagrams[0].size());
        EXPECT_EQ(488u, datagrams[1].size());
        EXPECT_TRUE(datagrams[0] + datagrams[1] == pane);
        ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
        Click(IDC_BUTTON_CLOSE);
        EXPECT_FALSE(Progress().isVisible());
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SendPath, ShortSendsAndAFullSocketCarryOnAtTheSameOffset)
{
    Fd peer = ConnectToSlowReader();

    const std::string pane = Pattern(65536);
    SetPane(pane);
    std::string got;
    const auto fill = [&] {
        EXPECT_TRUE(WaitUntil([&] { return dlg->m_bSendBlocked == 1; }));
        EXPECT_LT(dlg->m_nSendCount, 65536);
        return dlg->m_nSendCount;
    };
    const auto drain = [&](size_t n) { return ReadUntil(peer.get(), got, n); };

    // The rest goes out from the offset the socket took, once it has room.
    Click(IDC_BUTTON_SEND);
    const int accepted = fill();
    EXPECT_NE(0, accepted % 512) << "no short send";
    ASSERT_TRUE(drain(pane.size()));
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_TRUE(got == pane);

    // SEND while blocked starts over, and waits for room like the first did.
    got.clear();
    ClickProgress(IDC_BUTTON_PAUSE); // Restart
    const int cut = fill();
    Click(IDC_BUTTON_SEND);
    EXPECT_EQ(0, dlg->m_nSendCount);
    EXPECT_EQ(1, dlg->m_bSendBlocked);
    EXPECT_EQ("0 / 65536", Text(IDC_STATIC_SEND_COUNT));
    ASSERT_TRUE(drain(static_cast<size_t>(cut) + pane.size()));
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_TRUE(got == pane.substr(0, static_cast<size_t>(cut)) + pane);
}

// A chunk that went out short is finished before anything queued goes, in
// every state: paused in its middle, the queue waits for Start. Cancel gives
// the chunk up, and the queue goes on.
TEST_F(SendPath, QueuedBytesNeverLandInsideAPaneChunk)
{
    Fd peer = ConnectToSlowReader();

    std::string pane(65536, '\0');
    for (size_t i = 0; i < pane.size(); ++i)
        pane[i] = static_cast<char>('a' + i % 26);
    SetPane(pane);
    const std::string item = "0123456789";
    std::string got;

    Click(IDC_BUTTON_SEND);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_bSendBlocked == 1; }));
    const int shortAt = dlg->m_nSendCount;
    ASSERT_NE(0, shortAt % 512) << "no short send";
    ClickProgress(IDC_BUTTON_PAUSE);
    dlg->m_outgoing.Enqueue(QByteArray::fromStdString(item), std::chrono::steady_clock::now());
    ASSERT_TRUE(ReadUntil(peer.get(), got, static_cast<size_t>(shortAt)));
    EXPECT_TRUE(WaitUntil([&] { return dlg->m_bSendBlocked == 0; }));
    EXPECT_FALSE(WaitUntil([&] { return dlg->m_outgoing.Empty(); }, std::chrono::milliseconds(100)));
    ClickProgress(IDC_BUTTON_PAUSE);
    ASSERT_TRUE(ReadUntil(peer.get(), got, pane.size() + item.size()));
    const size_t at = got.find(item);
    ASSERT_NE(std::string::npos, at);
    // The chunk that would have blocked goes first, whole.
    EXPECT_GE(at, static_cast<size_t>(shortAt) + 512);
    EXPECT_TRUE(got.substr(0, at) + got.substr(at + item.size()) == pane);

    got.clear();
    ClickProgress(IDC_BUTTON_PAUSE); // Restart
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_bSendBlocked == 1; }));
    ClickProgress(IDC_BUTTON_CANCEL_SEND);
    const int cancelledAt = dlg->m_nSendCount;
    dlg->m_outgoing.Enqueue(QByteArray::fromStdString(item), std::chrono::steady_clock::now());
    ASSERT_TRUE(ReadUntil(peer.get(), got, static_cast<size_t>(cancelledAt) + item.size()));
    EXPECT_EQ(item, got.substr(static_cast<size_t>(cancelledAt)));
}

TEST_F(SendPath, PauseStartCancelAndSendAgain)
{
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    const std::string pane = Pattern(65536);
    SetPane(pane);
    std::string got;

    // Nothing goes into a connection that a Telnet session owns.
    dlg->m_bTelnetActive = true;
    Click(IDC_BUTTON_SEND);
    EXPECT_TRUE(CountStays(0));
    dlg->m_bTelnetActive = false;
    ASSERT_TRUE(Sent(2048));
    ClickProgress(IDC_BUTTON_PAUSE);
    EXPECT_EQ("Start/Cancel", Buttons());
    const int paused = dlg->m_nSendCount;
    EXPECT_TRUE(CountStays(paused));

    ClickProgress(IDC_BUTTON_PAUSE);
    EXPECT_EQ("Pause/Cancel", Buttons());
    ASSERT_TRUE(Sent(paused + 512));

    // Cancel hides the window and keeps the counters.
    ClickProgress(IDC_BUTTON_CANCEL_SEND);
    EXPECT_FALSE(Progress().isVisible());
    const int cancelled = dlg->m_nSendCount;
    EXPECT_TRUE(CountStays(cancelled));

    // SEND starts over from the start; SEND while running does it again.
    Click(IDC_BUTTON_SEND);
    EXPECT_TRUE(Progress().isVisible());
    EXPECT_EQ("Pause/Cancel", Buttons());
    EXPECT_EQ("0 / 65536", Text(IDC_STATIC_SEND_COUNT));
    ASSERT_TRUE(Sent(1024));
    const int interrupted = dlg->m_nSendCount;
    Click(IDC_BUTTON_SEND);
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }, seconds(20)));
    ASSERT_TRUE(ReadUntil(peer.get(), got, static_cast<size_t>(cancelled + interrupted) + pane.size()));
    EXPECT_TRUE(got == pane.substr(0, static_cast<size_t>(cancelled)) +
                           pane.substr(0, static_cast<size_t>(interrupted)) + pane);

    // Codes the main window does not know change nothing.
    EXPECT_EQ(0, dlg->OnSendNotify(99, 1));
    EXPECT_EQ(0, dlg->m_bSendPaused);

    // An empty pane: nothing to send, so the window never completes.
    SetPane({});
    Click(IDC_BUTTON_SEND);
    EXPECT_EQ("0 / 0", Text(IDC_STATIC_SEND_COUNT));
    EXPECT_EQ("00 : 00 : 00 000", Text(IDC_STATIC_SEND_TIME));
    EXPECT_EQ("0%", Progress().m_progress->text());
    EXPECT_TRUE(CountStays(0));
    EXPECT_EQ("Pause/Cancel", Buttons());
    EXPECT_FALSE(Readable(peer.get(), 0));

    // Enter, Escape and the close box leave the window alone.
    QTest::keyClick(&Progress(), Qt::Key_Escape);
    Progress().close();
    QTest::keyClick(&Progress(), Qt::Key_Return);
    EXPECT_TRUE(Progress().isVisible());
    EXPECT_TRUE(boxes.shown.empty());
}

// Centred by the frames, the first time too, when the progress window's own
// frame is not known until it is shown.
TEST_F(SendPath, ProgressWindowIsCentredOverTheMainWindow)
{
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    ASSERT_NE(dlg->frameGeometry(), dlg->geometry()) << "a platform without window frames";
    for (int showing = 0; showing < 2; ++showing) {
        dlg->ShowSendDlg();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Progress()));
        const QPoint offset = Progress().frameGeometry().center() - dlg->frameGeometry().center();
        // Halving truncates: a pixel either way.
        EXPECT_LE(std::abs(offset.x()), 1) << "showing " << showing;
        EXPECT_LE(std::abs(offset.y()), 1) << "showing " << showing;
        Progress().hide();
    }
}

TEST_F(SendPath, SendErrorInServerModeClosesTheSessionAndTheListener)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    Fd peer = ConnectTo(AF_INET, port);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));

    // Our own end refuses to write: the next send fails with a broken pipe.
    ::shutdown(dlg->m_sock.m_hSocket, SHUT_WR);
    Click(IDC_BUTTON_SEND);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    EXPECT_EQ(QString::fromLocal8Bit(strerror(EPIPE)), boxes.LastText());
    EXPECT_EQ(unsigned(MB_OK | MB_ICONHAND), boxes.shown.back().type);
    EXPECT_EQ("Ready", Status());
    EXPECT_FALSE(dlg->m_sock.IsOpen());
    EXPECT_FALSE(dlg->m_sockListen.IsOpen());
    EXPECT_FALSE(Progress().isVisible());
    EXPECT_EQ(36, dlg->m_nSendTotal);

    // The port is free for the next Listen.
    Click(IDC_BUTTON_CONNECT);
    EXPECT_EQ("Listening", Status());
    EXPECT_EQ(1u, boxes.shown.size());
}

TEST_F(SendPath, DroppedPeerThenNextPeerGetsTheRestAsEdited)
{
    SetMode(MODE_TCP_SERVER);
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), 1470, port);
    Click(IDC_BUTTON_CONNECT);
    Fd first = ConnectTo(AF_INET, port);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }));

    std::string pane = Pattern(65536);
    SetPane(pane);
    Click(IDC_BUTTON_SEND);
    ASSERT_TRUE(Sent(4096));
    ClickProgress(IDC_BUTTON_PAUSE);
    const int sent = dlg->m_nSendCount;
    std::string got;
    ASSERT_TRUE(ReadUntil(first.get(), got, static_cast<size_t>(sent)));
    first.reset();
    ASSERT_TRUE(WaitStatus(QStringLiteral("Listening")));
    ClickProgress(IDC_BUTTON_PAUSE); // Start: waits for the next peer
    EXPECT_TRUE(CountStays(sent));

    // While it waits, a byte not yet sent is edited and the pane is cut short.
    pane[static_cast<size_t>(sent)] = '\xAB';
    SetPane(pane);
    dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QString::number(sent + 1000));
    Click(IDC_BUTTON_RESIZE);
    ASSERT_EQ(sent + 1000, dlg->m_hexSend->m_nLength);

    Fd second = ConnectTo(AF_INET, port);
    std::string rest;
    ASSERT_TRUE(ReadUntil(second.get(), rest, pane.size() - static_cast<size_t>(sent)));
    EXPECT_TRUE(got == pane.substr(0, static_cast<size_t>(sent)));
    const size_t cut = static_cast<size_t>(sent) + 1000;
    EXPECT_TRUE(rest == pane.substr(static_cast<size_t>(sent), 1000) + std::string(pane.size() - cut, '\0'));
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SendPath, UnresolvableUdpHostIsReportedOnceAndPauses)
{
    Fd receiver(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(AF_INET, 0, &length);
    ::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&a), length);
    SetMode(MODE_UDP);
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(receiver.get()), FreePort(SOCK_DGRAM));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);

    // The host stops resolving (an unknown interface fails without asking
    // any name server).
    const auto setHost = [&](const char* host) {
        dlg->SetDlgItemText(IDC_EDIT_REMOTE_IP, QString::fromLatin1(host));
        ASSERT_TRUE(dlg->UpdateData(true));
    };
    setHost("::1%nosuchif");
    const std::string pane = Pattern(1000);
    SetPane(pane);
    Click(IDC_BUTTON_SEND);
    for (size_t reports = 1; reports <= 2; ++reports) {
        ASSERT_TRUE(WaitUntil([&] { return boxes.shown.size() == reports; }));
        EXPECT_FALSE(WaitUntil([&] { return boxes.shown.size() > reports; }, std::chrono::milliseconds(100)));
        EXPECT_EQ("Start/Cancel", Buttons());
        EXPECT_EQ("0 / 1000", Text(IDC_STATIC_SEND_COUNT));
        EXPECT_EQ(1, dlg->m_bSendPaused);
        if (reports == 1)
            ClickProgress(IDC_BUTTON_PAUSE); // Start tries again, and fails again
    }

    setHost("127.0.0.1");
    ClickProgress(IDC_BUTTON_PAUSE);
    std::string got;
    ASSERT_TRUE(WaitUntil([&] {
        ReadSome(receiver.get(), &got);
        return got.size() == pane.size();
    }));
    EXPECT_TRUE(got == pane);
    ASSERT_TRUE(WaitUntil([&] { return Buttons() == "Restart/Close"; }));
    EXPECT_EQ(2u, boxes.shown.size());
}

using DataLengthSpin = SessionTest;

TEST_F(DataLengthSpin, ArrowsStepTheStoredNumber)
{
    auto* spin = dlg->GetDlgItem(IDC_SPIN_DATA_LENGTH);
    struct Case
    {
        const char* start;
        int delta; // as the spin proposes it: up -1, down +1
        const char* expected;
    } cases[] = {
        {"36", -1, "37"}, {"0", -1, "1"}, {"0", +1, "0"}, {"1", +1, "0"}, {"3", +5, "4294967294"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QString::fromLatin1(c.start));
        ASSERT_TRUE(dlg->UpdateData(true));
        // Typed and not yet taken over: the stored number steps.
        dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QStringLiteral("77"));
        if (c.delta == -1 || c.delta == +1)
            QTest::keyClick(spin, c.delta < 0 ? Qt::Key_Up : Qt::Key_Down);
        else
            emit dlg->m_spinDataLength->deltaPos(c.delta);
        EXPECT_EQ(c.expected, dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    }

    // The mouse: the upper arrow adds one, the lower takes one away.
    spin->resize(16, 24);
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, 4));
    EXPECT_EQ("4294967295", dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, 20));
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, 20));
    EXPECT_EQ("4294967293", dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
}

// The lower arrow held with the mouse, pressed through the window as a real
// pointer is, so that the application knows the button is down.
class HeldSpinArrow : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        QWidget* spin = dlg->GetDlgItem(IDC_SPIN_DATA_LENGTH);
        lowerArrow = spin->mapTo(dlg.get(), QPoint(spin->width() / 2, spin->height() * 3 / 4));
        offTheControl = spin->mapTo(dlg.get(), QPoint(spin->width() / 2, -spin->height()));
        dlg->SetDlgItemText(IDC_EDIT_DATA_LENGTH, QStringLiteral("100000"));
        ASSERT_TRUE(dlg->UpdateData(true));
        QTest::mousePress(dlg->windowHandle(), Qt::LeftButton, {}, lowerArrow);
        ASSERT_TRUE(Stepping(seconds(3)));
    }
    void TearDown() override
    {
        if (QGuiApplication::mouseButtons() != Qt::NoButton)
            QTest::mouseRelease(dlg->windowHandle(), Qt::LeftButton, {}, lowerArrow);
        SessionTest::TearDown();
    }
    // Whether the number changes within a few repeat intervals.
    bool Stepping(std::chrono::milliseconds within = std::chrono::milliseconds(600))
    {
        const unsigned before = dlg->m_nDataLength;
        return WaitUntil([&] { return dlg->m_nDataLength != before; }, within);
    }

    QPoint lowerArrow;
    QPoint offTheControl;
};

TEST_F(HeldSpinArrow, StopsWhenReleasedWhileAMessageBoxIsUp)
{
    // A real box, as a connect error brings it; the mouse is let go while it
    // is up, so the window never sees the release.
    SetMessageBoxHook({});
    bool released = false;
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || released)
            return;
        released = true;
        QTest::mouseRelease(dlg->windowHandle(), Qt::LeftButton, {}, lowerArrow);
        box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    bool answered = false;
    QTimer::singleShot(0, dlg.get(), [&] {
        dlg->ShowSystemError(ECONNREFUSED);
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return answered; }));
    EXPECT_TRUE(released);
    EXPECT_FALSE(Stepping());
}

TEST_F(HeldSpinArrow, PausesWhileThePointerIsOffTheArrow)
{
    QTest::mouseMove(dlg->windowHandle(), offTheControl);
    EXPECT_FALSE(Stepping());
    QTest::mouseMove(dlg->windowHandle(), lowerArrow);
    EXPECT_TRUE(Stepping(seconds(3)));
    QTest::mouseRelease(dlg->windowHandle(), Qt::LeftButton, {}, lowerArrow);
    EXPECT_FALSE(Stepping());
}

} // namespace
