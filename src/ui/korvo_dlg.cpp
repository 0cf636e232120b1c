#include "ui/korvo_dlg.h"

#include "capture/capture.h"
#include "dialog_templates.h"
#include "messages/messages_dlg.h"
#include "panes/hex_edit.h"
#include "platform/data_exchange.h"
#include "platform/fonts.h"
#include "platform/message_box.h"
#include "platform/program_icon.h"
#include "platform/spin_button.h"
#include "platform/strings.h"
#include "progress/send_dlg.h"
#include "replies/replies_dlg.h"
#include "tls/tls_dlg.h"
#include "ui/about_dlg.h"

#include <QAccessible>
#include <QAction>
#include <QFileInfo>

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

CKorvoDlg::CKorvoDlg(QWidget* parent)
    : CDialog(KorvoDialogTemplate(), parent), m_hIcon(ProgramIcon()),
      m_pFontKorean(std::make_unique<QFont>(CreateKoreanFont())),
      m_pFontDefault(std::make_unique<QFont>(CreateDefaultFont()))
{
    MapCommand(IDC_BUTTON_EXIT, [this] { OnButtonExit(); });
    MapCommand(IDC_BUTTON_CONNECT, [this] { OnButtonConnect(); });
    MapCommand(IDC_BUTTON_CLOSE, [this] { OnButtonClose(); });
    MapCommand(IDC_BUTTON_TELNET, [this] { OnTelnet(); });
    MapNotify(IDC_COMBO_MODE, CBN_SELCHANGE, [this] { OnSelchangeMode(); });
    MapCommand(IDC_BUTTON_SAVE_RECV, [this] { OnButtonSaveRecv(); });
    MapCommand(IDC_BUTTON_CLEAR, [this] { OnButtonClear(); });
    MapCommand(IDC_BUTTON_LOAD, [this] { OnButtonLoad(); });
    MapCommand(IDC_BUTTON_SAVE_SEND, [this] { OnButtonSaveSend(); });
    MapCommand(IDC_BUTTON_RESIZE, [this] { OnButtonResize(); });
    MapNotify(IDC_RICHEDIT_RECV, EN_SETFOCUS, [this] { OnSetfocusRicheditRecv(); });
    // The window menu from the keyboard, where the system menu would be.
    auto* windowMenu = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(windowMenu, &QShortcut::activated, this, [this] { ShowWindowMenu(mapToGlobal(QPoint(0, 0))); });
    AddWindowActions();
    // Receiving that a capture held goes on when the capture has caught up.
    m_taps.m_onReceiveReleased = [this] { m_sock.ResumeReceive(); };
    m_outgoing.m_onQueued = [this] { WakeSendTimer(); };
}

CKorvoDlg::~CKorvoDlg()
{
    // The additions go first: they are subscribed to the session and hold
    // items in its queue.
    m_outgoing.Clear();
    m_pTlsDlg.reset();
    m_pRepliesDlg.reset();
    m_pMessagesDlg.reset();
    m_pCapture.reset();
}

void CKorvoDlg::AddWindowActions()
{
    const auto add = [this](int stringId, const QKeySequence& shortcut, void (CKorvoDlg::*handler)()) {
        auto* action = new QAction(LoadStr(stringId), this);
        action->setShortcut(shortcut);
        action->setShortcutVisibleInContextMenu(true);
        connect(action, &QAction::triggered, this, handler);
        // Added to the window so that the shortcut works with the menu closed.
        addAction(action);
        return action;
    };
    m_actCaptureStart = add(200, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &CKorvoDlg::OnCaptureStart);
    m_actCaptureStop = add(201, QKeySequence(), &CKorvoDlg::OnCaptureStop);
    m_actCaptureStop->setEnabled(false);
    m_actMessages = add(202, QKeySequence(Qt::CTRL | Qt::Key_M), &CKorvoDlg::OnMessages);
    m_actReplies = add(203, QKeySequence(Qt::CTRL | Qt::Key_R), &CKorvoDlg::OnReplies);
    m_actTls = add(400, QKeySequence(Qt::CTRL | Qt::Key_T), &CKorvoDlg::OnTls);
}

QWidget* CKorvoDlg::CreateControl(const ControlTemplate& control, QWidget* parent)
{
    if (control.id == IDC_RICHEDIT_RECV || control.id == IDC_RICHEDIT_SEND) {
        auto* pane = new CHexEdit(parent);
        const int id = control.id;
        connect(pane, &CHexEdit::focusGained, this, [this, id] { SendCommand(id, EN_SETFOCUS); });
        return pane;
    }
    return nullptr;
}

void CKorvoDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_COMBO_MODE, m_comboMode);
    DDX_Control(pDX, IDC_CHECK_KEEPALIVE, m_checkKeepAlive);
    DDX_Control(pDX, IDC_EDIT_REMOTE_IP, m_editRemoteIP);
    DDX_Control(pDX, IDC_RICHEDIT_SEND, m_hexSend);
    DDX_Control(pDX, IDC_BUTTON_SAVE_RECV, m_btnSaveRecv);
    DDX_Control(pDX, IDC_SPIN_DATA_LENGTH, m_spinDataLength);
    DDX_Control(pDX, IDC_EDIT_STATUS, m_editStatus);
    DDX_Control(pDX, IDC_RICHEDIT_RECV, m_hexRecv);
    DDX_Control(pDX, IDC_BUTTON_TELNET, m_btnTelnet);
    DDX_Control(pDX, IDC_BUTTON_SAVE_SEND, m_btnSaveSend);
    DDX_Control(pDX, IDC_BUTTON_LOAD, m_btnLoad);
    DDX_Control(pDX, IDC_BUTTON_SEND, m_btnSend);
    DDX_Control(pDX, IDC_BUTTON_CLEAR, m_btnClear);
    DDX_Control(pDX, IDC_BUTTON_EXIT, m_btnExit);
    DDX_Control(pDX, IDC_BUTTON_CONNECT, m_btnConnect);
    DDX_Control(pDX, IDC_BUTTON_CLOSE, m_btnClose);
    DDX_Text(pDX, IDC_EDIT_REMOTE_PORT, m_nRemotePort);
    DDV_MinMaxUInt(pDX, m_nRemotePort, 1, 65535);
    DDX_Text(pDX, IDC_EDIT_DATA_LENGTH, m_nDataLength);
    DDX_Text(pDX, IDC_EDIT_REMOTE_IP, m_strRemoteIP);
    DDX_Text(pDX, IDC_STATIC_RECV_COUNT, m_strRecvCount);
    DDX_Text(pDX, IDC_EDIT_LOCAL_PORT, m_nLocalPort);
    DDV_MinMaxUInt(pDX, m_nLocalPort, 1, 65535);
    DDX_CBIndex(pDX, IDC_COMBO_MODE, m_nMode);
    if (!pDX->m_bSaveAndValidate) {
        // The counter is read out by its number as it changes.
        if (QWidget* counter = GetDlgItem(IDC_STATIC_RECV_COUNT))
            counter->setAccessibleName(m_strRecvCount);
    }
}

bool CKorvoDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The About entry is offered from the window's context menu (see
    // contextMenuEvent); window managers here own the system menu.
    setWindowIcon(m_hIcon);

    m_bTelnetActive = false;
    m_sock.m_pDlg = this;
    m_sockListen.m_pDlg = this;
    m_nState = STATE_READY;

    m_hexSend->InitView();
    m_hexRecv->InitView();

    SetReceiveCount(0);

    static const char kSendPaneStart[] = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    m_hexSend->SetData(36, kSendPaneStart);

    EnableDlgItem(IDC_EDIT_LOCAL_PORT, false);
    m_btnSend->setEnabled(false);
    m_btnClose->setEnabled(false);
    SetStatusText(LoadStr(121));
    m_editRemoteIP->setFocus(Qt::OtherFocusReason);

    m_strTitle = LoadStr(104);
    setWindowTitle(m_strTitle);

    SetCaptions();

    m_comboMode->clear();
    m_comboMode->addItem(LoadStr(137));
    m_comboMode->addItem(LoadStr(138));
    m_comboMode->addItem(QStringLiteral("UDP"));
    m_comboMode->setCurrentIndex(0);
    OnSelchangeMode();

    CheckRadioButton(IDC_RADIO_IPV4, IDC_RADIO_IPV6, IDC_RADIO_IPV4);
    m_checkKeepAlive->setChecked(true);

    SendFontToDescendants(this, FontForSystemLanguage(*m_pFontKorean, *m_pFontDefault));
    SetAccessibleNames();

    // Enter in the data-length field applies the length.
    GetDlgItem(IDC_EDIT_DATA_LENGTH)->installEventFilter(this);

    StartSendPath();
    return true;
}

void CKorvoDlg::SetCaptions()
{
    static const struct {
        int stringId;
        int controlId;
    } captions[] = {
        {135, IDC_STATIC_RECV},        {136, IDC_STATIC_SEND},       {133, IDC_BUTTON_SEND},
        {107, IDC_BUTTON_SAVE_RECV},   {107, IDC_BUTTON_SAVE_SEND},  {108, IDC_BUTTON_CLEAR},
        {109, IDC_STATIC_RECV_COUNT_LABEL}, {110, IDC_STATIC_BYTES}, {111, IDC_BUTTON_LOAD},
        {112, IDC_BUTTON_RESIZE},      {113, IDC_STATIC_REMOTE_IP},  {114, IDC_STATIC_REMOTE_PORT},
        {116, IDC_CHECK_KEEPALIVE},    {117, IDC_STATIC_LOCAL_PORT}, {118, IDC_BUTTON_CONNECT},
        {125, IDC_BUTTON_TELNET},      {126, IDC_BUTTON_EXIT},       {134, IDC_STATIC_DATA_LENGTH},
        {119, IDC_BUTTON_CLOSE},
    };
    for (const auto& c : captions)
        SetDlgItemText(c.controlId, LoadStr(c.stringId));
}

void CKorvoDlg::SetAccessibleNames()
{
    // Controls with a caption are named by it; edits by their label; the panes
    // by their frame.
    for (const ControlTemplate& c : Template().controls) {
        QWidget* w = GetDlgItem(c.id);
        if (!w)
            continue;
        const QString caption = GetDlgItemText(c.id);
        if (!caption.isEmpty() && c.kind != ControlKind::Edit && c.kind != ControlKind::ComboDropList)
            w->setAccessibleName(caption);
    }
    static const struct {
        int controlId;
        int labelId;
    } labelled[] = {
        {IDC_EDIT_REMOTE_IP, IDC_STATIC_REMOTE_IP},     {IDC_EDIT_REMOTE_PORT, IDC_STATIC_REMOTE_PORT},
        {IDC_EDIT_LOCAL_PORT, IDC_STATIC_LOCAL_PORT},   {IDC_EDIT_DATA_LENGTH, IDC_STATIC_DATA_LENGTH},
        {IDC_RICHEDIT_RECV, IDC_STATIC_RECV},           {IDC_RICHEDIT_SEND, IDC_STATIC_SEND},
        {IDC_SPIN_DATA_LENGTH, IDC_STATIC_DATA_LENGTH},
    };
    for (const auto& l : labelled) {
        QWidget* w = GetDlgItem(l.controlId);
        const QString label = GetDlgItemText(l.labelId);
        w->setAccessibleName(label);
        if (auto* buddyLabel = Item<QLabel>(l.labelId))
            buddyLabel->setBuddy(w);
    }
    // No label stands beside the mode combo box; screen readers get one.
    m_comboMode->setAccessibleName(LoadStr(149));
    m_editStatus->setAccessibleName(QStringLiteral("Status"));
    if (QWidget* counter = GetDlgItem(IDC_STATIC_RECV_COUNT)) {
        counter->setAccessibleName(m_strRecvCount);
        counter->setAccessibleDescription(GetDlgItemText(IDC_STATIC_RECV_COUNT_LABEL));
    }
}

void CKorvoDlg::ShowTitle()
{
    // The title that message boxes use stays the program's.
    QString title = m_strTitle;
    if (IsTlsOn())
        title += QStringLiteral(" - TLS");
    if (m_pCapture && m_pCapture->IsRunning())
        title += LoadStr(207).arg(QFileInfo(m_pCapture->Path()).fileName());
    setWindowTitle(title);
    // Screen readers learn of the new title only when told.
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void CKorvoDlg::OnSelchangeMode()
{
    const int mode = m_comboMode->currentIndex();
    // Every write-back of the fields pushes m_nMode into the combo box: keep it
    // the combo's own selection so that no write-back can change the mode.
    m_nMode = mode;
    switch (mode) {
    case MODE_TCP_CLIENT:
    case MODE_TCP_SERVER:
    case MODE_UDP:
        break;
    default:
        return;
    }
    const bool server = mode == MODE_TCP_SERVER;
    const bool udp = mode == MODE_UDP;
    m_checkKeepAlive->setChecked(!udp);
    m_checkKeepAlive->setEnabled(!udp);
    m_btnConnect->setText(LoadStr(server ? 120 : 118));
    m_btnConnect->setAccessibleName(m_btnConnect->text());
    m_btnTelnet->setEnabled(mode == MODE_TCP_CLIENT);
    EnableDlgItem(IDC_EDIT_REMOTE_IP, !server);
    EnableDlgItem(IDC_EDIT_REMOTE_PORT, !server);
    EnableDlgItem(IDC_EDIT_LOCAL_PORT, server || udp);
    EnableDlgItem(IDC_RADIO_IPV4, server);
    EnableDlgItem(IDC_RADIO_IPV6, server);
}

void CKorvoDlg::OnButtonExit()
{
    ConfirmExit();
}

void CKorvoDlg::ConfirmExit()
{
    if (ShowMessageBox(this, LoadStr(127), m_strTitle, MB_YESNO | MB_ICONEXCLAMATION) == IDYES)
        EndDialog(0);
}

void CKorvoDlg::OnSysCommand(unsigned nID)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.DoModal();
    } else if (nID == SC_CLOSE) {
        ConfirmExit();
    }
    // Minimise, maximise, restore and the rest belong to the window manager.
}

void CKorvoDlg::OnOK()
{
    // Enter never ends the main window.
}

void CKorvoDlg::OnCancel()
{
    // Nor does Escape.
}

bool CKorvoDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched == GetDlgItem(IDC_EDIT_DATA_LENGTH)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            SendCommand(IDC_BUTTON_RESIZE);
        // The key goes on to the dialog as usual.
    }
    return CDialog::eventFilter(watched, event);
}

void CKorvoDlg::contextMenuEvent(QContextMenuEvent* event)
{
    ShowWindowMenu(event->globalPos());
}

void CKorvoDlg::ShowWindowMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    QAction* about = menu.addAction(LoadStr(101));
    menu.addSeparator();
    menu.addAction(m_actCaptureStart);
    menu.addAction(m_actCaptureStop);
    menu.addSeparator();
    menu.addAction(m_actMessages);
    menu.addAction(m_actReplies);
    menu.addSeparator();
    menu.addAction(m_actTls);
    if (menu.exec(globalPos) == about)
        OnSysCommand(IDM_ABOUTBOX);
}
