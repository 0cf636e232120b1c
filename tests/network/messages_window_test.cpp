// The saved messages window on the real main dialog: messages entered as a
// user enters them, sent to real peers on loopback, kept in messages.json.
#include "network/net_helpers.h"
#include "network/session_fixture.h"
#include "widgets/messages_window.h"

#include "messages/byte_entry_dlg.h"
#include "messages/messages_dlg.h"
#include "panes/hex_edit.h"
#include "platform/profile.h"
#include "platform/strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QProcess>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <functional>
#include <string>

using namespace korvo::test;

namespace {

using std::chrono::seconds;

class Messages : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        dlg->OnMessages();
        win = dlg->m_pMessagesDlg.get();
        ASSERT_NE(nullptr, win);
    }

    // Adds a message as the user does: Add, the edit dialog, OK.
    void AddByDialog(const QString& name, ByteForm form, const QString& data, int repeatMs, int count = 0)
    {
        AddMessageByDialog(*win, name, form, data, repeatMs, count);
    }
    // Adds a message straight to the list.
    void Add(const char* name, const QByteArray& data, int repeatMs = 0, int count = 0)
    {
        SavedMessage m;
        m.name = QString::fromLatin1(name);
        m.data = data;
        m.repeatMs = repeatMs;
        m.count = count;
        win->m_model->Insert(win->m_model->Count(), m);
    }
    void SendRow(int row)
    {
        win->m_panel->SelectRow(row);
        win->m_btnSend->click();
    }
    QString SentColumn(int row) const
    {
        return win->m_model->data(win->m_model->index(row, CMessagesDlg::COLUMN_SENT), Qt::DisplayRole)
            .toString();
    }
    Fd ConnectClient(const Fd& listener)
    {
        SetFields(QStringLiteral("127.0.0.1"), LocalPort(listener.get()), 1470);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_TRUE(WaitStatus(QStringLiteral("Connected")));
        return Fd(::accept(listener.get(), nullptr, nullptr));
    }
    static bool ReadUntil(int fd, std::string& got, const std::function<bool()>& done)
    {
        return WaitUntil(
            [&] {
                while (!done() && ReadSome(fd, &got) > 0) {
                }
                return done();
            },
            seconds(20));
    }
    // Everything until the peer's end of stream.
    static bool ReadToEnd(int fd, std::string& got)
    {
        return WaitUntil(
            [&] {
                for (;;) {
                    const ssize_t n = ReadSome(fd, &got);
                    if (n <= 0)
                        return n == 0;
                }
            },
            seconds(20));
    }
    static int Copies(const std::string& stream, const std::string& item)
    {
        int n = 0;
        for (size_t at = stream.find(item); at != std::string::npos; at = stream.find(item, at + item.size()))
            ++n;
        return n;
    }

    CMessagesDlg* win = nullptr;
};

TEST_F(Messages, ANewUserSavesTwoMessagesRepeatsOneStopsItSendsTheOtherAndFindsBothAgain)
{
    EXPECT_FALSE(win->m_btnSend->isEnabled());
    AddByDialog("status", ByteForm::Hex, "02 00 01 03", 100);
    AddByDialog("reset", ByteForm::Text, "RST\\r\\n", 0);
    ASSERT_EQ(2, win->m_model->Count());
    EXPECT_EQ(
        "02 00 01 03",
        win->m_model->data(win->m_model->index(0, CMessagesDlg::COLUMN_DATA), Qt::DisplayRole).toString());
    EXPECT_EQ(
        "52 53 54 0D 0A",
        win->m_model->data(win->m_model->index(1, CMessagesDlg::COLUMN_DATA), Qt::DisplayRole).toString());

    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    SendRow(0);
    EXPECT_EQ("Stop", win->m_btnSend->text().remove('&'));
    const std::string status("\x02\x00\x01\x03", 4);
    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 3 * status.size(); }));
    win->m_btnSend->click();
    EXPECT_EQ("Send", win->m_btnSend->text().remove('&'));
    SendRow(1);
    ASSERT_TRUE(ReadUntil(peer.get(), got,
                          [&] { return got.size() >= 5 && got.substr(got.size() - 5) == "RST\r\n"; }));
    const int repeats = Copies(got, status);
    EXPECT_EQ(got.size(), repeats * status.size() + 5);
    EXPECT_TRUE(WaitUntil([&] { return SentColumn(0) == QString::number(repeats) && SentColumn(1) == "1"; }));

    // Closed and opened again: the list is still there, as it was typed.
    dlg.reset();
    dlg = std::make_unique<CKorvoDlg>();
    ASSERT_TRUE(dlg->Create());
    dlg->OnMessages();
    win = dlg->m_pMessagesDlg.get();
    ASSERT_EQ(2, win->m_model->Count());
    EXPECT_EQ("status", win->m_model->At(0).name);
    EXPECT_EQ(QByteArray("\x02\x00\x01\x03", 4), win->m_model->At(0).data);
    EXPECT_EQ(100, win->m_model->At(0).repeatMs);
    EXPECT_EQ(QByteArray("RST\r\n"), win->m_model->At(1).data);
    EXPECT_EQ(ByteForm::Text, win->m_model->At(1).form);
    EXPECT_EQ("0", SentColumn(0));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Messages, ARepeatWithACountSendsThatManyAndEnds)
{
    Add("five", "<five>", 10, 5);
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    SendRow(0);
    EXPECT_TRUE(win->m_btnStopAll->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return SentColumn(0) == "5"; }));
    EXPECT_EQ("Send", win->m_btnSend->text().remove('&'));
    EXPECT_FALSE(win->m_btnStopAll->isEnabled());
    // The peer has every byte that went: close and read to the end.
    Click(IDC_BUTTON_CLOSE);
    std::string got;
    ASSERT_TRUE(ReadToEnd(peer.get(), got));
    EXPECT_EQ(30u, got.size());
    EXPECT_EQ(5, Copies(got, "<five>"));
}

TEST_F(Messages, RunListGoesInOrderLoopsUntilStoppedAndThenNothingMore)
{
    Add("a", "a", 0);
    Add("b", "bb", 2);
    Add("c", "ccc", 0);
    Add("end", "Z");
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);

    win->m_btnRunList->click();
    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 7; }));
    EXPECT_EQ("abbcccZ", got);
    EXPECT_TRUE(WaitUntil([&] { return win->m_sender.IsIdle(); }));

    got.clear();
    win->m_checkLoop->click();
    win->m_btnRunList->click();
    EXPECT_EQ("Stop List", win->m_btnRunList->text().remove('&'));
    ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 3 * 7; }));
    win->m_btnRunList->click();
    EXPECT_TRUE(win->m_sender.IsIdle());
    // The last thing before the peer's end is one more message sent by hand.
    Add("mark", "!");
    SendRow(4);
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_outgoing.Empty(); }));
    Click(IDC_BUTTON_CLOSE);
    ASSERT_TRUE(ReadToEnd(peer.get(), got));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ('!', got.back());
    got.pop_back();
    std::string passes;
    while (passes.size() < got.size())
        passes += "abbcccZ";
    EXPECT_EQ(passes.substr(0, got.size()), got);
}

TEST_F(Messages, LongMessagesGoWholeInTcpChunksOrOneDatagramAndAreTooLongForOneRefused)
{
    QByteArray big(1500, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    Add("big", big);
    Add("datagram", QByteArray(1000, 'd'));
    Add("too long", QByteArray(65508, 'x'));

    {
        Fd listener = Listener();
        Fd peer = ConnectClient(listener);
        SendRow(0);
        std::string got;
        ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 1500; }));
        EXPECT_TRUE(got == big.toStdString());
        Click(IDC_BUTTON_CLOSE);
    }

    SetMode(MODE_UDP);
    Fd receiver(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(AF_INET, 0, &length);
    ASSERT_EQ(0, ::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&a), length));
    SetFields(QStringLiteral("127.0.0.1"), LocalPort(receiver.get()), FreePort(SOCK_DGRAM));
    Click(IDC_BUTTON_CONNECT);
    ASSERT_EQ(STATE_UDP_OPEN, dlg->m_nState);
    SendRow(2);
    ASSERT_EQ(1u, boxes.shown.size());
    EXPECT_EQ("\"too long\" holds 65,508 bytes; one UDP datagram holds at most 65,507 bytes.",
              boxes.LastText());
    EXPECT_TRUE(dlg->m_outgoing.Empty());
    win->m_btnRunList->click();
    EXPECT_EQ(2u, boxes.shown.size());
    EXPECT_TRUE(dlg->m_outgoing.Empty());

    SendRow(1);
    std::string datagram;
    ASSERT_TRUE(WaitUntil([&] {
        ReadSome(receiver.get(), &datagram);
        return !datagram.empty();
    }));
    EXPECT_EQ(1000u, datagram.size());

    // To Send Pane: the pane's bytes and Data Length, the other fields as typed.
    dlg->SetDlgItemText(IDC_EDIT_REMOTE_PORT, "99");
    win->m_panel->SelectRow(0);
    win->m_btnToSendPane->click();
    EXPECT_EQ(big,
              QByteArray(reinterpret_cast<const char*>(dlg->m_hexSend->m_pData), dlg->m_hexSend->m_nLength));
    EXPECT_EQ("1500", dlg->GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_EQ("99", dlg->GetDlgItemText(IDC_EDIT_REMOTE_PORT));
}

TEST_F(Messages, ARepeatBesideThePaneTransferLeavesBothStreamsWholeAndInOrder)
{
    std::string pane(64 * 1024, '\0');
    for (size_t i = 0; i < pane.size(); ++i)
        pane[i] = static_cast<char>('a' + i % 26);
    dlg->m_hexSend->SetData(static_cast<int>(pane.size()), pane.data());
    const std::string item = "0123456789";
    Add("digits", QByteArray::fromStdString(item), 1, 40);
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);

    Click(IDC_BUTTON_SEND);
    SendRow(0);
    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= pane.size() + 40 * item.size(); }));
    std::string paneGot, itemsGot;
    for (const char c : got)
        (c >= 'a' ? paneGot : itemsGot) += c;
    EXPECT_TRUE(paneGot == pane);
    std::string items;
    for (int i = 0; i < 40; ++i)
        items += item;
    EXPECT_EQ(items, itemsGot);
    // Each copy arrived in one piece.
    EXPECT_EQ(40, Copies(got, item));
}

TEST_F(Messages, RepeatsStopWhenThePeerClosesAndNothingGoesOnTheNextSessionUntilSent)
{
    Add("poll", "poll", 5);
    Add("hello", "hello");
    Fd listener = Listener();
    {
        Fd peer = ConnectClient(listener);
        SendRow(0);
        std::string got;
        ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 8; }));
    }
    ASSERT_TRUE(WaitStatus(QStringLiteral("Ready")));
    EXPECT_TRUE(win->m_sender.IsIdle());
    EXPECT_EQ("Send", win->m_btnSend->text().remove('&'));
    EXPECT_FALSE(win->m_btnSend->isEnabled());
    EXPECT_FALSE(win->m_btnRunList->isEnabled());
    EXPECT_TRUE(boxes.shown.empty());

    Fd peer = ConnectClient(listener);
    EXPECT_TRUE(dlg->m_outgoing.Empty());
    EXPECT_TRUE(WaitUntil([&] { return SentColumn(0) == "0"; }));
    SendRow(1);
    std::string got;
    ASSERT_TRUE(ReadUntil(peer.get(), got, [&] { return got.size() >= 5; }));
    EXPECT_EQ("hello", got);
}

TEST_F(Messages, ClosingTheWindowStopsItsSending)
{
    Add("poll", "poll", 5);
    Fd listener = Listener();
    Fd peer = ConnectClient(listener);
    SendRow(0);
    win->m_checkLoop->click();
    win->m_btnRunList->click();
    EXPECT_FALSE(win->m_sender.IsIdle());
    win->m_btnClose->click();
    EXPECT_FALSE(win->isVisible());
    EXPECT_TRUE(win->m_sender.IsIdle());
    dlg->OnMessages();
    EXPECT_TRUE(win->isVisible());
    EXPECT_EQ("Send", win->m_btnSend->text().remove('&'));
}

// Whatever stops a TCP message while its bytes are going out, the message
// still goes out whole, once, and Sent counts it.
TEST_F(Messages, AMessageUnderWayGoesOnceWholeAndIsCounted)
{
    QByteArray big(100 * 1024, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    Add("once", big);
    Add("repeat", big, 10);
    const struct
    {
        const char* action;
        int row;
        std::function<void()> start, act;
    } cases[] = {
        {"Send again", 0, [&] { SendRow(0); }, [&] { SendRow(0); }},
        {"Stop", 1, [&] { SendRow(1); }, [&] { win->m_btnSend->click(); }},
        {"Stop All", 1, [&] { SendRow(1); }, [&] { win->m_btnStopAll->click(); }},
        {"Stop List", 0, [&] { win->m_btnRunList->click(); }, [&] { win->m_btnRunList->click(); }},
    };
    Fd listener = Listener();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        Fd peer = ConnectClient(listener);
        c.start();
        ASSERT_TRUE(WaitUntil([&] {
            const OutgoingQueue::Item* item = dlg->m_outgoing.Next(std::chrono::steady_clock::now());
            return item && item->sent > 0;
        }));
        c.act();
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_outgoing.Empty(); }));
        EXPECT_TRUE(WaitUntil([&] { return SentColumn(c.row) == "1"; })) << SentColumn(c.row).toStdString();
        Click(IDC_BUTTON_CLOSE);
        std::string got;
        ASSERT_TRUE(ReadToEnd(peer.get(), got));
        EXPECT_TRUE(got == big.toStdString()) << got.size() << " bytes";
    }
}

// The profile's folder where the installed programs keep it, so that
// korvo-cli finds the window's list without being told.
class MessagesAsInstalled : public Messages
{
protected:
    void SetUp() override
    {
        Profile::SetRegistryKey(QString::fromLatin1(PROFILE_COMPANY));
        Messages::SetUp();
    }
    void TearDown() override
    {
        Messages::TearDown();
        Profile::SetRegistryKey({});
    }
};

// The copied line, pasted into a shell, sends the message as Send does.
TEST_F(MessagesAsInstalled, CopyAsCommandGivesALineThatSendsTheSelectedMessage)
{
    EXPECT_FALSE(win->m_btnCopyCommand->isEnabled());
    AddByDialog("it's ready", ByteForm::Text, "READY\\r\\n", 0);
    AddByDialog("other", ByteForm::Text, "OTHER", 0);
    win->m_panel->SelectRow(0);
    ASSERT_TRUE(win->m_btnCopyCommand->isEnabled());

    Fd listener = Listener();
    const unsigned short port = LocalPort(listener.get());
    SetMode(MODE_TCP_CLIENT);
    SetFields(QStringLiteral(" 127.0.0.1 "), port, 1470);
    QGuiApplication::clipboard()->clear();
    win->m_btnCopyCommand->click();
    const QString line = QGuiApplication::clipboard()->text();
    EXPECT_EQ(QStringLiteral("korvo-cli --keepalive connect 127.0.0.1 %1 message 'it'\\''s ready'").arg(port),
              line);

    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       QStringLiteral(KORVO_BINARY_DIR "/bin:") + environment.value(QStringLiteral("PATH")));
    shell.setProcessEnvironment(environment);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), line});
    ASSERT_TRUE(Readable(listener.get(), 10000)) << shell.readAllStandardError().toStdString();
    Fd peer(::accept(listener.get(), nullptr, nullptr));
    std::string got;
    ASSERT_TRUE(ReadToEnd(peer.get(), got));
    EXPECT_EQ("READY\r\n", got);
    // The wait above may have seen it end already.
    ASSERT_TRUE(shell.state() == QProcess::NotRunning || shell.waitForFinished(10000));
    EXPECT_EQ(0, shell.exitCode()) << shell.readAllStandardError().toStdString();
    EXPECT_TRUE(boxes.shown.empty());
}

// Alt and a letter reach one control of the window, in every language.
TEST(MessagesWindow, NoTwoButtonsShareAMnemonic)
{
    for (const char* language : {"en", "ko", "zh_CN"}) {
        SCOPED_TRACE(language);
        setenv("LANGUAGE", language, 1);
        ReloadStringLanguageFromEnvironment();
        CKorvoDlg dlg;
        ASSERT_TRUE(dlg.Create());
        dlg.OnMessages();
        const CMessagesDlg* win = dlg.m_pMessagesDlg.get();
        ASSERT_NE(nullptr, win);
        QStringList seen;
        for (const QAbstractButton* button : win->findChildren<QAbstractButton*>()) {
            const QString text = button->text();
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            if (at < 0 || at + 1 >= text.size())
                continue;
            const QString key = text.mid(at + 1, 1).toUpper();
            EXPECT_FALSE(seen.contains(key)) << text.toStdString();
            seen << key;
        }
        EXPECT_TRUE(win->m_btnCopyCommand->text().contains(QLatin1String("&C")))
            << win->m_btnCopyCommand->text().toStdString();
    }
    unsetenv("LANGUAGE");
    ReloadStringLanguageFromEnvironment();
}

} // namespace
