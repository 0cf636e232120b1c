// The Telnet window through the real main dialog, with a plain peer on
// loopback (port 23 only inside a private network namespace).
#include "network/net_helpers.h"
#include "network/netns.h"
#include "network/session_fixture.h"
#include "network/telnet_window.h"

#include "panes/hex_edit.h"

#include <QAccessible>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>

#include <string>

using namespace korvo::test;

namespace {

const QString READY = QStringLiteral("Ready");
const QString CONNECTED = QStringLiteral("Connected");

class TelnetWindow : public SessionTest
{
protected:
    // TELNET to the listener; the body runs with the window shown and the
    // peer accepted. Ends with the main window Ready again.
    void Session(Fd& listener, const std::function<void(CTelDlg&, int peer)>& body)
    {
        SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_TELNET);
        EXPECT_TRUE(dlg->m_bTelnetActive);
        EXPECT_EQ(QStringLiteral("Connecting"), Status());
        const bool ran = WhileTelnetOpen(*dlg, [&](CTelDlg& tel) {
            Fd peer(::accept(listener.get(), nullptr, nullptr));
            body(tel, peer.get());
        });
        EXPECT_TRUE(ran);
        EXPECT_TRUE(WaitStatus(READY));
        EXPECT_FALSE(dlg->m_bTelnetActive);
        EXPECT_FALSE(dlg->m_sock.IsOpen());
        EXPECT_TRUE(dlg->isEnabled());
        EXPECT_TRUE(Enabled(IDC_BUTTON_TELNET));
    }
};

TEST_F(TelnetWindow, CharacterModeOnAnyPortButTheTelnetPort)
{
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        CTelEdit* term = tel.m_editTerminal;
        // The main window waits, still Connected, while the window is up.
        EXPECT_EQ(&tel, QApplication::activeModalWidget());
        EXPECT_FALSE(dlg->isEnabled());
        EXPECT_TRUE(tel.isEnabled());
        EXPECT_EQ(CONNECTED, Status());
        EXPECT_EQ(QStringLiteral("Telnet"), tel.windowTitle());
        EXPECT_EQ(QStringLiteral("CR -> CR+LF"), tel.m_comboTx->currentText());
        EXPECT_EQ(QStringLiteral("Don't Convert"), tel.m_comboRx->currentText());
        EXPECT_EQ(3, tel.m_comboRx->count());
        EXPECT_EQ(QStringLiteral("LF -> CR+LF"), tel.m_comboRx->itemText(2));
        EXPECT_EQ(term, QApplication::focusWidget());

        // Keys go out as typed, cursor and editing keys not at all, and
        // nothing shows until the peer echoes. Enter and Esc keep the window.
        QTest::keyClick(term, Qt::Key_L);
        QTest::keyClick(term, Qt::Key_Left);
        QTest::keyClick(term, Qt::Key_Home);
        QTest::keyClick(term, Qt::Key_Delete);
        QTest::keyClick(term, Qt::Key_PageUp);
        QTest::keyClick(term, Qt::Key_Backspace);
        QTest::keyClick(term, Qt::Key_Tab);
        QTest::keyClick(term, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(term, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(term, Qt::Key_Escape);
        QTest::keyClick(term, Qt::Key_Return);
        QTest::sendKeyEvent(QTest::Click, term, Qt::Key_Eacute, QStringLiteral("é"), Qt::NoModifier);
        EXPECT_EQ(PeerBytes(peer, 10), std::string("l\b\t\x03\x1a\x1b\r\n\xC3\xA9"));
        EXPECT_TRUE(tel.isVisible());
        EXPECT_EQ(QString(), Shown(tel));

        // What the peer sends is shown, not put in the receive pane.
        ASSERT_EQ(13, ::send(peer, "hello\r\nworld!", 13, 0));
        EXPECT_TRUE(WaitUntil([&] { return Shown(tel) == QStringLiteral("hello\nworld!"); }));
        EXPECT_EQ(0, dlg->m_hexRecv->m_nLength);
        EXPECT_EQ(QStringLiteral("0"), dlg->GetDlgItemText(IDC_STATIC_RECV_COUNT));

        // Enter and Esc on the other controls keep the window too.
        tel.m_comboRx->setFocus();
        QTest::keyClick(tel.m_comboRx, Qt::Key_Escape);
        QTest::keyClick(tel.m_comboRx, Qt::Key_Return);
        EXPECT_TRUE(tel.isVisible());
        // A click on the terminal only takes the focus back.
        QTest::mouseClick(term->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(term, QApplication::focusWidget());

        // Screen readers get the terminal as a named text, the rest by their labels.
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(term);
        EXPECT_EQ(QAccessible::EditableText, access->role());
        EXPECT_EQ(QStringLiteral("Terminal"), access->text(QAccessible::Name));
        EXPECT_EQ(QStringLiteral("hello\nworld!"), access->textInterface()->text(0, -1));
        // The combo boxes read as their labels, the chosen item as their
        // value and text (what reaches the bus is checked over AT-SPI).
        for (const auto& [combo, label] : {std::pair{tel.m_comboTx, "Send"}, std::pair{tel.m_comboRx, "Receive"}}) {
            QAccessibleInterface* box = QAccessible::queryAccessibleInterface(combo);
            EXPECT_EQ(QAccessible::ComboBox, box->role());
            EXPECT_EQ(QString::fromLatin1(label), box->text(QAccessible::Name));
            EXPECT_EQ(combo->currentText(), box->text(QAccessible::Value));
            ASSERT_NE(nullptr, box->textInterface());
            EXPECT_EQ(combo->currentText(), box->textInterface()->text(0, -1));
        }
        EXPECT_EQ(QStringLiteral("No operation"), tel.GetDlgItem(IDC_BUTTON_NOP)->accessibleName());

        tel.SendCommand(IDC_BUTTON_NOP);
        EXPECT_EQ(PeerBytes(peer, 2), std::string("\xFF\xF1"));
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

TEST_F(TelnetWindow, LineModeEchoesAndSendsWholeLines)
{
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        CTelEdit* term = tel.m_editTerminal;
        ClickIn(tel, IDC_CHECK_LINEMODE);
        EXPECT_EQ(term, QApplication::focusWidget());
        QTest::keyClick(term, Qt::Key_Backspace);
        QTest::keyClicks(term, QStringLiteral("lsx"));
        QTest::keyClick(term, Qt::Key_Backspace);
        EXPECT_EQ(QStringLiteral("ls"), Shown(tel));
        EXPECT_EQ(-1, ReadSome(peer));
        QTest::keyClick(term, Qt::Key_Return);
        EXPECT_EQ(PeerBytes(peer, 4), std::string("ls\r\n"));
        EXPECT_EQ(QStringLiteral("ls\n"), Shown(tel));

        // A line left pending goes out before the next character.
        QTest::keyClicks(term, QStringLiteral("abc"));
        ClickIn(tel, IDC_CHECK_LINEMODE);
        EXPECT_EQ(-1, ReadSome(peer));
        QTest::keyClick(term, Qt::Key_D);
        EXPECT_EQ(PeerBytes(peer, 4), std::string("abcd"));
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

TEST_F(TelnetWindow, PeerClosingLeavesTheWindowUntilClosed)
{
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Close button");
        Fd listener = Listener(AF_INET);
        Session(listener, [&](CTelDlg& tel, int peer) {
            ASSERT_EQ(4, ::send(peer, "bye\n", 4, 0));
            ::shutdown(peer, SHUT_RDWR);
            ASSERT_TRUE(WaitUntil([&] { return tel.m_editTerminal->IsReadOnly(); }));
            EXPECT_EQ(QStringLiteral("bye\nConnection closed\n"), Shown(tel));
            EXPECT_EQ(CONNECTED, Status());
            QTest::keyClick(tel.m_editTerminal, Qt::Key_X);
            EXPECT_EQ(QStringLiteral("bye\nConnection closed\n"), Shown(tel));
            if (closeBox)
                tel.close();
            else
                ClickIn(tel, IDC_BUTTON_CLOSE);
        });
    }
    EXPECT_TRUE(boxes.shown.empty());
}

// A server's Synch (Ctrl+C while output flows): IAC, then DM as urgent data.
TEST_F(TelnetWindow, UrgentDataMarkIsReadInBand)
{
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        ASSERT_EQ(2, ::send(peer, "ab", 2, 0));
        ASSERT_EQ(2, ::send(peer, "\xFF\xF2", 2, MSG_OOB));
        ASSERT_EQ(3, ::send(peer, "cd|", 3, 0));
        EXPECT_TRUE(WaitUntil([&] { return Shown(tel).endsWith(QLatin1Char('|')); }));
        EXPECT_EQ(QStringLiteral("abcd|"), Shown(tel));
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

// A server's Backspace steps back one cell: readline on a dumb terminal backs
// over a wide character with two.
TEST_F(TelnetWindow, ServerBackspacesEraseByCells)
{
    const struct
    {
        const char* sent;
        const char* shown;
    } cases[] = {
        {"a\xED\x95\x9C\b\b  \b\b", "a"},
        {"a\xED\x95\x9C\b", "a\xED\x95\x9C"},
        // Written over its second cell, a wide character is blanked.
        {"a\xED\x95\x9C\bx", "a x"},
        {"xe\xCC\x81\b", "x"},
        {"ab\b", "a"},
    };
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        int line = 0;
        for (const auto& c : cases) {
            const std::string bytes = std::string(c.sent) + "\r\n";
            ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::send(peer, bytes.data(), bytes.size(), 0));
            ++line;
            ASSERT_TRUE(WaitUntil([&] { return Shown(tel).count(QLatin1Char('\n')) == line; }));
            EXPECT_EQ(QString::fromUtf8(c.shown), Shown(tel).section(QLatin1Char('\n'), line - 1, line - 1))
                << c.sent;
        }
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

// The main window is disabled while the Telnet window is up: a box shown
// then belongs to the Telnet window, above it and answering OK and Escape.
TEST_F(TelnetWindow, MessageBoxDuringTheSessionBelongsToTheTelnetWindow)
{
    SetMessageBoxHook({});
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int) {
        bool seen = false, enabled = false, escaped = false, answered = false;
        QWidget* parent = nullptr;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || seen)
                return;
            seen = true;
            parent = box->parentWidget();
            enabled = box->isEnabled();
            QTest::keyClick(box, Qt::Key_Escape);
            escaped = !box->isVisible();
            if (!escaped)
                box->done(0);
        });
        poll.start();
        // A socket error, as one arriving during the session is shown.
        QTimer::singleShot(0, dlg.get(), [&] {
            dlg->ShowSystemError(ECONNRESET);
            answered = true;
        });
        ASSERT_TRUE(WaitUntil([&] { return answered; }));
        EXPECT_TRUE(seen);
        EXPECT_EQ(&tel, parent);
        EXPECT_TRUE(enabled);
        EXPECT_TRUE(escaped);
        EXPECT_TRUE(tel.isVisible());
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

TEST_F(TelnetWindow, FloodKeepsTheNewestRowsInView)
{
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        CTelEdit* term = tel.m_editTerminal;
        const int columns = term->Terminal().Columns();
        ASSERT_GT(columns, 20);
        // 400 lines, each wrapping to two rows.
        std::string flood;
        for (int i = 0; i < 400; ++i)
            flood += std::string(static_cast<size_t>(columns), 'a' + i % 26) + std::to_string(i) + "\r\n";
        flood += "end";
        ASSERT_EQ(static_cast<ssize_t>(flood.size()), ::send(peer, flood.data(), flood.size(), 0));
        ASSERT_TRUE(WaitUntil([&] { return Shown(tel).endsWith(QStringLiteral("399\nend")); }));
        const TerminalText& text = term->Terminal();
        EXPECT_LE(text.Rows(), TELNET_MAX_LINES + 2 * TELNET_READ_CHUNK / columns + 2);
        EXPECT_GT(text.Rows(), TELNET_MAX_LINES - 2 * TELNET_TRIM_CHARS / columns - 2);
        EXPECT_EQ(3, text.CaretColumn());
        ASSERT_TRUE(WaitUntil([&] { return term->TopRow() == text.Rows() - term->VisibleRows(); }));
        EXPECT_EQ(term->verticalScrollBar()->maximum(), term->verticalScrollBar()->value());
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

TEST_F(TelnetWindow, SecondWindowStartsAfresh)
{
    Fd listener = Listener(AF_INET);
    Session(listener, [&](CTelDlg& tel, int peer) {
        ClickIn(tel, IDC_CHECK_LINEMODE);
        QTest::keyClicks(tel.m_editTerminal, QStringLiteral("pending"));
        tel.m_comboRx->setCurrentIndex(RX_LF_TO_CRLF);
        tel.SendCommand(IDC_COMBO_RX, CBN_SELCHANGE);
        ASSERT_EQ(2, ::send(peer, "a\n", 2, 0));
        ASSERT_TRUE(WaitUntil([&] { return Shown(tel) == QStringLiteral("pendinga\n"); }));
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
    Session(listener, [&](CTelDlg& tel, int peer) {
        EXPECT_EQ(QString(), Shown(tel));
        EXPECT_FALSE(tel.m_checkLinemode->isChecked());
        EXPECT_EQ(RX_NO_CONVERT, tel.m_comboRx->currentIndex());
        EXPECT_EQ(3, tel.m_comboTx->count());
        // Character mode, and the old pending line is gone.
        QTest::keyClick(tel.m_editTerminal, Qt::Key_Q);
        EXPECT_EQ(PeerBytes(peer, 1), "q");
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

TEST_F(TelnetWindow, RefusedConnectReportsAndReturnsToReady)
{
    const unsigned short port = FreePort();
    SetFields(QStringLiteral("127.0.0.1"), port, 1470);
    Click(IDC_BUTTON_TELNET);
    ASSERT_TRUE(WaitStatus(READY));
    EXPECT_FALSE(dlg->m_bTelnetActive);
    EXPECT_FALSE(dlg->m_dlgTelnet.isVisible());
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(QString::fromLocal8Bit(strerror(ECONNREFUSED)), boxes.LastText());
    EXPECT_TRUE(Enabled(IDC_BUTTON_TELNET));
    EXPECT_TRUE(Enabled(IDC_COMBO_MODE));
}

TEST_F(TelnetWindow, TelnetPortAsksForEchoAndShowsLineFeedsAsBreaks)
{
    KORVO_RUN_IN_NETNS(NETNS_LOOPBACK);
    Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(AF_INET, TELNET_PORT, &length);
    ASSERT_EQ(0, ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&a), length));
    ASSERT_EQ(0, ::listen(listener.get(), 1));
    Session(listener, [&](CTelDlg& tel, int peer) {
        EXPECT_EQ(PeerBytes(peer, 6), std::string("\xFF\xFD\x03\xFF\xFD\x01"));
        EXPECT_EQ(TX_NO_CONVERT, tel.m_comboTx->currentIndex());
        EXPECT_EQ(RX_LF_TO_CRLF, tel.m_comboRx->currentIndex());
        ASSERT_EQ(5, ::send(peer, "a\nb\rc", 5, 0));
        EXPECT_TRUE(WaitUntil([&] { return Shown(tel) == QStringLiteral("a\nbc"); }));
        QTest::keyClick(tel.m_editTerminal, Qt::Key_Return);
        EXPECT_EQ(PeerBytes(peer, 1), "\r");
        ClickIn(tel, IDC_BUTTON_CLOSE);
    });
}

} // namespace
