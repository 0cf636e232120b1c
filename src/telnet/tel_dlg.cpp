#include "telnet/tel_dlg.h"

#include "dialog_templates.h"
#include "platform/data_exchange.h"
#include "platform/fonts.h"
#include "platform/program_icon.h"
#include "platform/strings.h"
#include "telnet/tel_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

CTelDlg::CTelDlg(QWidget* parent)
    : CDialog(TelnetDialogTemplate(), parent), m_hIcon(ProgramIcon()),
      m_pFontKorean(std::make_unique<QFont>(CreateKoreanFont())),
      m_pFontDefault(std::make_unique<QFont>(CreateDefaultFont()))
{
    // The terminal, and with it the engine's negotiation memory, lives as
    // long as the window object, not only while it is shown.
    m_editTerminal = new CTelEdit(this);
    MapNotify(IDC_COMBO_RX, CBN_SELCHANGE, [this] { OnSelchangeRx(); });
    MapNotify(IDC_COMBO_TX, CBN_SELCHANGE, [this] { OnSelchangeTx(); });
    MapCommand(IDC_CHECK_LINEMODE, [this] { OnLinemode(); });
    MapCommand(IDC_BUTTON_CLOSE, [this] { OnCloseButton(); });
    MapCommand(IDC_BUTTON_NOP, [this] { OnNoOperation(); });
}

CTelDlg::~CTelDlg() = default;

QWidget* CTelDlg::CreateControl(const ControlTemplate& control, QWidget*)
{
    return control.id == IDC_EDIT_TERMINAL ? m_editTerminal : nullptr;
}

void CTelDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHECK_LINEMODE, m_checkLinemode);
    DDX_Control(pDX, IDC_EDIT_TERMINAL, m_editTerminal);
    DDX_Control(pDX, IDC_COMBO_TX, m_comboTx);
    DDX_Control(pDX, IDC_COMBO_RX, m_comboRx);
}

void CTelDlg::SetSession(CAsyncSocket* socket, int remotePort)
{
    m_editTerminal->BeginSession(socket, remotePort);
}

int CTelDlg::DoModal()
{
    if (IsCreated()) {
        OnInitDialog();
        m_editTerminal->setFocus(Qt::OtherFocusReason);
    }
    return CDialog::DoModal();
}

void CTelDlg::showEvent(QShowEvent* event)
{
    CDialog::showEvent(event);
    // Typing goes to the terminal at once, also where no window manager
    // hands the new window the focus.
    activateWindow();
}

void CTelDlg::ResetComboItems(QComboBox* combo, int id)
{
    combo->clear();
    for (const ControlTemplate& c : Template().controls) {
        if (c.id == id) {
            for (const char* item : c.items)
                combo->addItem(QString::fromUtf8(item));
        }
    }
    combo->insertItem(0, LoadStr(132));
}

bool CTelDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    setWindowIcon(m_hIcon);
    m_strTitle = LoadStr(125);

    ResetComboItems(m_comboTx, IDC_COMBO_TX);
    ResetComboItems(m_comboRx, IDC_COMBO_RX);
    // The Telnet port gets raw sends and LF shown as a line break; any other
    // port is taken for a line-based service that wants CR LF.
    const bool telnetPort = m_editTerminal->RemotePort() == TELNET_PORT;
    const TxNewline tx = telnetPort ? TX_NO_CONVERT : TX_CR_TO_CRLF;
    const RxNewline rx = telnetPort ? RX_LF_TO_CRLF : RX_NO_CONVERT;
    m_comboTx->setCurrentIndex(tx);
    m_comboRx->setCurrentIndex(rx);
    m_editTerminal->ResetTerminal(rx, tx);
    m_checkLinemode->setChecked(false);

    setWindowTitle(m_strTitle);
    SetDlgItemText(IDC_CHECK_LINEMODE, LoadStr(131));
    SetDlgItemText(IDC_STATIC_TX, LoadStr(106));
    SetDlgItemText(IDC_STATIC_RX, LoadStr(105));
    SetDlgItemText(IDC_BUTTON_CLOSE, LoadStr(129));
    SetDlgItemText(IDC_STATIC_NEWLINE, LoadStr(130));
    SetDlgItemText(IDC_BUTTON_NOP, LoadStr(143));

    SendFontToDescendants(this, FontForSystemLanguage(*m_pFontKorean, *m_pFontDefault));
    SetAccessibleNames();
    UpdateData(false);
    return true;
}

void CTelDlg::SetAccessibleNames()
{
    static const struct
    {
        int controlId;
        int labelId;
    } labelled[] = {{IDC_COMBO_TX, IDC_STATIC_TX}, {IDC_COMBO_RX, IDC_STATIC_RX}};
    for (const auto& l : labelled) {
        QWidget* w = GetDlgItem(l.controlId);
        w->setAccessibleName(GetDlgItemText(l.labelId).trimmed());
        if (auto* label = Item<QLabel>(l.labelId))
            label->setBuddy(w);
    }
    for (const int id : {IDC_CHECK_LINEMODE, IDC_BUTTON_CLOSE, IDC_BUTTON_NOP, IDC_STATIC_NEWLINE})
        GetDlgItem(id)->setAccessibleName(GetDlgItemText(id));
}

void CTelDlg::OnSelchangeRx()
{
    UpdateData(true);
    const int index = m_comboRx->currentIndex();
    if (index >= RX_NO_CONVERT && index <= RX_LF_TO_CRLF)
        m_editTerminal->Engine().m_nRxNewline = static_cast<RxNewline>(index);
    m_editTerminal->setFocus(Qt::OtherFocusReason);
}

void CTelDlg::OnSelchangeTx()
{
    UpdateData(true);
    const int index = m_comboTx->currentIndex();
    if (index >= TX_NO_CONVERT && index <= TX_CR_TO_LF)
        m_editTerminal->Engine().m_nTxNewline = static_cast<TxNewline>(index);
    m_editTerminal->setFocus(Qt::OtherFocusReason);
}

void CTelDlg::OnLinemode()
{
    UpdateData(true);
    // A line pending from line mode goes out before the next typed character.
    m_editTerminal->Engine().m_bLineMode = m_checkLinemode->isChecked();
    m_editTerminal->setFocus(Qt::OtherFocusReason);
}

void CTelDlg::OnNoOperation()
{
    m_editTerminal->SendNop();
}

void CTelDlg::OnCloseButton()
{
    EndDialog(0);
}

void CTelDlg::OnSysCommand(unsigned nID)
{
    if (nID == SC_CLOSE)
        EndDialog(0);
    else
        CDialog::OnSysCommand(nID);
}

void CTelDlg::OnOK()
{
    // Enter never closes the window.
}

void CTelDlg::OnCancel()
{
    // Nor does Esc.
}
