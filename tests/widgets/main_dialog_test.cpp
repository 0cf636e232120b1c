// The main window as a user meets it: controls, defaults, mode layouts,
// validation, leaving the program and the About box.
#include "dialog_templates.h"
#include "platform/data_exchange.h"
#include "platform/strings.h"
#include "support/message_boxes.h"
#include "support/wait.h"
#include "ui/korvo_dlg.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using korvo::test::MessageBoxes;
using korvo::test::WaitUntil;

namespace {

// The dialog with its Apply command observable.
class TestDlg : public CKorvoDlg {
public:
    TestDlg()
    {
        MapCommand(IDC_BUTTON_RESIZE, [this] { ++applied; });
        Create();
        show();
        QApplication::setActiveWindow(this);
    }
    int applied = 0;
};

struct ModeLayout {
    int mode;
    bool keepAliveChecked, keepAliveEnabled;
    const char* connectCaption;
    bool telnet, remoteIp, remotePort, localPort, radios;
};

void ExpectLayout(TestDlg& dlg, const ModeLayout& m)
{
    SCOPED_TRACE(m.mode);
    EXPECT_EQ(m.keepAliveChecked, dlg.IsDlgButtonChecked(IDC_CHECK_KEEPALIVE));
    EXPECT_EQ(m.keepAliveEnabled, dlg.GetDlgItem(IDC_CHECK_KEEPALIVE)->isEnabled());
    EXPECT_EQ(m.connectCaption, dlg.GetDlgItemText(IDC_BUTTON_CONNECT));
    EXPECT_EQ(m.telnet, dlg.GetDlgItem(IDC_BUTTON_TELNET)->isEnabled());
    EXPECT_EQ(m.remoteIp, dlg.GetDlgItem(IDC_EDIT_REMOTE_IP)->isEnabled());
    EXPECT_EQ(m.remotePort, dlg.GetDlgItem(IDC_EDIT_REMOTE_PORT)->isEnabled());
    EXPECT_EQ(m.localPort, dlg.GetDlgItem(IDC_EDIT_LOCAL_PORT)->isEnabled());
    EXPECT_EQ(m.radios, dlg.GetDlgItem(IDC_RADIO_IPV4)->isEnabled());
    EXPECT_EQ(m.radios, dlg.GetDlgItem(IDC_RADIO_IPV6)->isEnabled());
}

const ModeLayout kClient{MODE_TCP_CLIENT, true, true, "Connect", true, true, true, false, false};
const ModeLayout kServer{MODE_TCP_SERVER, true, true, "Listen", false, false, false, true, true};
const ModeLayout kUdp{MODE_UDP, false, false, "Connect", false, true, true, true, false};

void SelectMode(TestDlg& dlg, int index)
{
    // As the user does it: the list's selection changes and the combo box notifies.
    dlg.m_comboMode->setCurrentIndex(index);
    emit dlg.m_comboMode->activated(index);
}

} // namespace

TEST(MainDialog, StateAfterStartUp)
{
    TestDlg dlg;
    EXPECT_EQ("Korvo v1.4A (2013/05/31)", dlg.windowTitle());
    EXPECT_EQ(dlg.windowTitle(), dlg.m_strTitle);
    EXPECT_EQ(STATE_READY, dlg.m_nState);
    EXPECT_FALSE(dlg.m_bTelnetActive);

    EXPECT_EQ(3, dlg.m_comboMode->count());
    EXPECT_EQ("TCP Client", dlg.m_comboMode->itemText(0));
    EXPECT_EQ("TCP Server", dlg.m_comboMode->itemText(1));
    EXPECT_EQ("UDP", dlg.m_comboMode->itemText(2));
    EXPECT_EQ(0, dlg.m_comboMode->currentIndex());
    ExpectLayout(dlg, kClient);
    EXPECT_TRUE(dlg.IsDlgButtonChecked(IDC_RADIO_IPV4));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(IDC_RADIO_IPV6));

    EXPECT_FALSE(dlg.m_btnSend->isEnabled());
    EXPECT_FALSE(dlg.m_btnClose->isEnabled());
    EXPECT_TRUE(dlg.m_btnConnect->isEnabled());
    EXPECT_EQ("10.1.0.1", dlg.GetDlgItemText(IDC_EDIT_REMOTE_IP));
    EXPECT_EQ("1470", dlg.GetDlgItemText(IDC_EDIT_REMOTE_PORT));
    EXPECT_EQ("1470", dlg.GetDlgItemText(IDC_EDIT_LOCAL_PORT));
    EXPECT_EQ("36", dlg.GetDlgItemText(IDC_EDIT_DATA_LENGTH));
    EXPECT_EQ("0", dlg.GetDlgItemText(IDC_STATIC_RECV_COUNT));
    EXPECT_EQ("Ready", dlg.GetDlgItemText(IDC_EDIT_STATUS));
    EXPECT_EQ(dlg.GetDlgItem(IDC_EDIT_REMOTE_IP), QApplication::focusWidget());
}

TEST(MainDialog, CaptionsFromTheStringTable)
{
    struct Case {
        int control;
        const char* english;
    } cases[] = {
        {IDC_STATIC_RECV, "Receive Data"},     {IDC_STATIC_SEND, "Send Data"},
        {IDC_BUTTON_SEND, "Send Data"},        {IDC_BUTTON_SAVE_RECV, "Save"},
        {IDC_BUTTON_SAVE_SEND, "Save"},        {IDC_BUTTON_CLEAR, "Clear"},
        {IDC_STATIC_RECV_COUNT_LABEL, "Receive Count"}, {IDC_STATIC_BYTES, "Byte(s)"},
        {IDC_BUTTON_LOAD, "Load"},             {IDC_BUTTON_RESIZE, "Apply"},
        {IDC_STATIC_REMOTE_IP, "Remote Host Address"}, {IDC_STATIC_REMOTE_PORT, "Remote Host Port"},
        {IDC_CHECK_KEEPALIVE, "Keep Alive"},   {IDC_STATIC_LOCAL_PORT, "Local Port"},
        {IDC_BUTTON_CONNECT, "Connect"},       {IDC_BUTTON_TELNET, "Telnet"},
        {IDC_BUTTON_EXIT, "Exit"},             {IDC_STATIC_DATA_LENGTH, "Data Length"},
        {IDC_BUTTON_CLOSE, "Disconnect"},
    };
    {
        TestDlg dlg;
        for (const Case& c : cases)
            EXPECT_EQ(c.english, dlg.GetDlgItemText(c.control)) << c.control;
    }
    setenv("LANGUAGE", "ko", 1);
    ReloadStringLanguageFromEnvironment();
    TestDlg korean;
    EXPECT_EQ(QString::fromUtf8("받은 데이터"), korean.GetDlgItemText(IDC_STATIC_RECV));
    EXPECT_EQ(QString::fromUtf8("접속 종료"), korean.GetDlgItemText(IDC_BUTTON_CLOSE));
    EXPECT_EQ(QString::fromUtf8("TCP 클라이언트"), korean.m_comboMode->itemText(0));
    EXPECT_EQ("UDP", korean.m_comboMode->itemText(2));
    EXPECT_EQ(QString::fromUtf8("대기 중"), korean.GetDlgItemText(IDC_EDIT_STATUS));
    unsetenv("LANGUAGE");
    ReloadStringLanguageFromEnvironment();
}

TEST(MainDialog, EveryTemplateControlAtItsPlace)
{
    TestDlg dlg;
    EXPECT_EQ(dlg.MapDialogRect(0, 0, 339, 377).size(), dlg.size());
    for (const ControlTemplate& c : KorvoDialogTemplate().controls) {
        if (c.id == IDC_STATIC)
            continue;
        QWidget* w = dlg.GetDlgItem(c.id);
        ASSERT_NE(nullptr, w) << c.id;
        const QRect expected = dlg.MapDialogRect(c.x, c.y, c.cx, c.cy);
        EXPECT_EQ(expected.topLeft(), w->geometry().topLeft()) << c.id;
        if (c.kind != ControlKind::ComboDropList) {
            EXPECT_EQ(expected.size(), w->size()) << c.id;
        }
        EXPECT_TRUE(w->isVisible()) << c.id;
        EXPECT_TRUE(dlg.rect().contains(w->geometry())) << c.id;
    }
    // Tab order follows the template: remote address, remote port, CONNECT, CLOSE...
    QWidget* w = dlg.GetDlgItem(IDC_EDIT_REMOTE_IP);
    EXPECT_EQ(dlg.GetDlgItem(IDC_EDIT_REMOTE_PORT), w->nextInFocusChain());
    EXPECT_EQ(dlg.GetDlgItem(IDC_BUTTON_CONNECT), w->nextInFocusChain()->nextInFocusChain());
    // Button 1029 is the default push button.
    EXPECT_TRUE(dlg.Item<QPushButton>(IDC_BUTTON_RESIZE)->isDefault());
}

TEST(MainDialog, ModeLayouts)
{
    TestDlg dlg;
    SelectMode(dlg, MODE_TCP_SERVER);
    ExpectLayout(dlg, kServer);
    SelectMode(dlg, MODE_UDP);
    ExpectLayout(dlg, kUdp);
    SelectMode(dlg, MODE_TCP_CLIENT);
    ExpectLayout(dlg, kClient);
    // The check box follows the layout even after the user changed it.
    dlg.m_checkKeepAlive->setChecked(false);
    SelectMode(dlg, MODE_TCP_SERVER);
    ExpectLayout(dlg, kServer);
}

TEST(MainDialog, ModeChangesByKeyboard)
{
    TestDlg dlg;
    dlg.m_comboMode->setFocus();
    QTest::keyClick(dlg.m_comboMode, Qt::Key_Down);
    ExpectLayout(dlg, kServer);
    QTest::keyClick(dlg.m_comboMode, Qt::Key_Down);
    ExpectLayout(dlg, kUdp);
}

TEST(MainDialog, DataExchangeRejectsBadFields)
{
    struct Case {
        int field;
        const char* text;
        const char* message;
    } cases[] = {
        {IDC_EDIT_REMOTE_PORT, "0", "Enter an integer between 1 and 65535."},
        {IDC_EDIT_REMOTE_PORT, "70000", "Enter an integer between 1 and 65535."},
        {IDC_EDIT_REMOTE_PORT, "abc", "Enter a positive integer."},
        {IDC_EDIT_REMOTE_PORT, "", "Enter a positive integer."},
        {IDC_EDIT_DATA_LENGTH, "-1", "Enter a positive integer."},
        {IDC_EDIT_DATA_LENGTH, "12x", "Enter a positive integer."},
        {IDC_EDIT_DATA_LENGTH, "4294967296", "Enter a positive integer."},
        {IDC_EDIT_LOCAL_PORT, "65536", "Enter an integer between 1 and 65535."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        TestDlg dlg;
        if (c.field == IDC_EDIT_LOCAL_PORT)
            SelectMode(dlg, MODE_UDP); // the field is enabled there
        dlg.SetDlgItemText(c.field, QString::fromUtf8(c.text));
        MessageBoxes boxes;
        EXPECT_FALSE(dlg.UpdateData(true));
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ(c.message, boxes.shown[0].text);
        EXPECT_EQ(MB_ICONEXCLAMATION, boxes.shown[0].type & MB_ICONMASK);
        EXPECT_EQ(dlg.GetDlgItem(c.field), QApplication::focusWidget());
        auto* edit = dlg.Item<QLineEdit>(c.field);
        EXPECT_EQ(edit->text(), edit->selectedText());
    }
}

TEST(MainDialog, DataExchangeStopsAtTheFirstBadFieldInOrder)
{
    TestDlg dlg;
    dlg.SetDlgItemText(IDC_EDIT_LOCAL_PORT, "0");
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, "0");
    MessageBoxes boxes;
    EXPECT_FALSE(dlg.UpdateData(true));
    EXPECT_EQ(1u, boxes.shown.size());
    EXPECT_EQ(dlg.GetDlgItem(IDC_EDIT_REMOTE_PORT), QApplication::focusWidget());

    dlg.SetDlgItemText(IDC_EDIT_REMOTE_PORT, " 80 ");
    dlg.SetDlgItemText(IDC_EDIT_LOCAL_PORT, "65535");
    dlg.SetDlgItemText(IDC_EDIT_DATA_LENGTH, "1048576");
    dlg.SetDlgItemText(IDC_EDIT_REMOTE_IP, "::1");
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(80u, dlg.m_nRemotePort);
    EXPECT_EQ(65535u, dlg.m_nLocalPort);
    EXPECT_EQ(1048576u, dlg.m_nDataLength);
    EXPECT_EQ("::1", dlg.m_strRemoteIP);
    EXPECT_EQ(0, dlg.m_nMode);
}

TEST(MainDialog, EnterAndEscapeNeverCloseTheWindow)
{
    TestDlg dlg;
    MessageBoxes boxes;
    QTest::keyClick(dlg.GetDlgItem(IDC_EDIT_REMOTE_IP), Qt::Key_Escape);
    QTest::keyClick(dlg.GetDlgItem(IDC_EDIT_REMOTE_IP), Qt::Key_Return);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(boxes.shown.empty());
    // Enter in another single-line field runs the default button, Apply.
    EXPECT_EQ(1, dlg.applied);
}

TEST(MainDialog, EnterInTheDataLengthFieldApplies)
{
    TestDlg dlg;
    QWidget* field = dlg.GetDlgItem(IDC_EDIT_DATA_LENGTH);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_GE(dlg.applied, 1);
    EXPECT_TRUE(dlg.isVisible());
}

TEST(MainDialog, ExitAsksFirst)
{
    struct Case {
        const char* how;
        int answer;
        bool closes;
    } cases[] = {
        {"exit button", IDNO, false},
        {"exit button", IDYES, true},
        {"close box", IDNO, false},
        {"close box", IDYES, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + (c.answer == IDYES ? " yes" : " no"));
        TestDlg dlg;
        MessageBoxes boxes(c.answer);
        if (std::string(c.how) == "exit button")
            QTest::mouseClick(dlg.m_btnExit, Qt::LeftButton);
        else
            dlg.close();
        ASSERT_EQ(1u, boxes.shown.size());
        EXPECT_EQ("Do you want to exit program?", boxes.shown[0].text);
        EXPECT_EQ(dlg.m_strTitle, boxes.shown[0].caption);
        EXPECT_EQ(unsigned(MB_YESNO | MB_ICONEXCLAMATION), boxes.shown[0].type);
        EXPECT_EQ(!c.closes, dlg.isVisible());
        if (c.closes) {
            EXPECT_EQ(0, dlg.result());
        }
    }
}

TEST(MainDialog, ExitEndsTheModalRun)
{
    MessageBoxes boxes(IDYES);
    CKorvoDlg dlg;
    QTimer::singleShot(0, &dlg, [&] { dlg.SendCommand(IDC_BUTTON_EXIT); });
    EXPECT_EQ(0, dlg.DoModal());
}

TEST(MainDialog, AboutBoxFromTheContextMenu)
{
    TestDlg dlg;
    QString menuText, aboutTitle, versionText, okText;
    bool aboutWasModal = false;
    // The menu and the About box are modal: inspect and close them from the event loop.
    QTimer::singleShot(0, &dlg, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(nullptr, menu);
        menuText = menu->actions().value(0)->text();
        QTimer::singleShot(0, &dlg, [&] {
            auto* about = qobject_cast<CDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(nullptr, about);
            aboutWasModal = true;
            aboutTitle = about->windowTitle();
            versionText = about->GetDlgItemText(IDC_STATIC_VERSION);
            okText = about->GetDlgItemText(IDOK);
            QTest::keyClick(about, Qt::Key_Return);
        });
        menu->setActiveAction(menu->actions().value(0));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), dlg.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&dlg, &event);
    EXPECT_EQ("&About Korvo...", menuText);
    EXPECT_TRUE(aboutWasModal);
    EXPECT_EQ("About Korvo", aboutTitle);
    EXPECT_EQ("Korvo v1.4A (2013/05/31)", versionText);
    EXPECT_EQ("OK", okText);
    EXPECT_TRUE(dlg.isVisible());
}

TEST(MainDialog, AccessibleNames)
{
    TestDlg dlg;
    struct Case {
        int control;
        const char* name;
    } cases[] = {
        {IDC_EDIT_REMOTE_IP, "Remote Host Address"}, {IDC_EDIT_REMOTE_PORT, "Remote Host Port"},
        {IDC_EDIT_LOCAL_PORT, "Local Port"},         {IDC_EDIT_DATA_LENGTH, "Data Length"},
        {IDC_EDIT_STATUS, "Status"},                 {IDC_RICHEDIT_RECV, "Receive Data"},
        {IDC_RICHEDIT_SEND, "Send Data"},            {IDC_BUTTON_CONNECT, "Connect"},
        {IDC_CHECK_KEEPALIVE, "Keep Alive"},         {IDC_STATIC_RECV_COUNT, "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.name, dlg.GetDlgItem(c.control)->accessibleName()) << c.control;
    EXPECT_EQ("Receive Count", dlg.GetDlgItem(IDC_STATIC_RECV_COUNT)->accessibleDescription());
    dlg.SetReceiveCount(4096);
    EXPECT_EQ("4096", dlg.GetDlgItem(IDC_STATIC_RECV_COUNT)->accessibleName());
    SelectMode(dlg, MODE_TCP_SERVER);
    EXPECT_EQ("Listen", dlg.GetDlgItem(IDC_BUTTON_CONNECT)->accessibleName());
    // The mode combo box has no label beside it, but a name of its own.
    QAccessibleInterface* mode = QAccessible::queryAccessibleInterface(dlg.m_comboMode);
    EXPECT_EQ("Connection Mode", mode->text(QAccessible::Name));
    ASSERT_NE(nullptr, mode->textInterface());
    EXPECT_EQ("TCP Server", mode->textInterface()->text(0, -1));

    // Mended: the address family buttons were announced as check boxes.
    const struct
    {
        int control;
        QAccessible::Role role;
    } roles[] = {{IDC_RADIO_IPV4, QAccessible::RadioButton},
                 {IDC_RADIO_IPV6, QAccessible::RadioButton},
                 {IDC_CHECK_KEEPALIVE, QAccessible::CheckBox}};
    for (const auto& r : roles) {
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(r.control));
        ASSERT_NE(nullptr, ai);
        EXPECT_EQ(r.role, ai->role()) << r.control;
        EXPECT_EQ(dlg.GetDlgItemText(r.control), ai->text(QAccessible::Name)) << r.control;
        EXPECT_EQ(dlg.IsDlgButtonChecked(r.control), ai->state().checked) << r.control;
    }
}
