#include "progress/send_dlg.h"

#include "dialog_templates.h"
#include "platform/data_exchange.h"
#include "platform/strings.h"
#include "progress/progress_text.h"
#include "progress/text_progress_ctrl.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t ClockTicks()
{
    return Clock::now().time_since_epoch().count();
}

} // namespace

CSendDlg::CSendDlg(QWidget* pParent)
    : CDialog(SendDialogTemplate(), pParent), m_liFrequency(Clock::period::den / Clock::period::num)
{
    MapCommand(IDC_BUTTON_PAUSE, [this] { OnButtonPause(); });
    MapCommand(IDC_BUTTON_CANCEL_SEND, [this] { OnButtonCancel(); });
}

CSendDlg::~CSendDlg() = default;

QWidget* CSendDlg::CreateControl(const ControlTemplate& control, QWidget* parent)
{
    if (control.id == IDC_PROGRESS_SEND) {
        auto* bar = new CTextProgressCtrl(parent);
        bar->SetBorder(control.style & CS_BORDER);
        return bar;
    }
    return CDialog::CreateControl(control, parent);
}

void CSendDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS_SEND, m_progress);
    DDX_Text(pDX, IDC_STATIC_SEND_COUNT, m_strCount);
    DDX_Text(pDX, IDC_STATIC_SEND_TIME, m_strTime);
}

bool CSendDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    setWindowTitle(LoadStr(104));
    SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(139));
    SetDlgItemText(IDC_BUTTON_CANCEL_SEND, LoadStr(142));
    return true;
}

void CSendDlg::StartSend(int nTotal)
{
    SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(139));
    SetDlgItemText(IDC_BUTTON_CANCEL_SEND, LoadStr(142));
    m_nTotal = nTotal;
    m_progress->setRange(0, nTotal);
    m_progress->SetPos(0);
    m_strCount = CountText(0, nTotal);
    m_strTime = QString::fromLatin1(START_TIME_TEXT);
    UpdateData(false);
}

void CSendDlg::ShowPaused()
{
    SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(140));
}

int CSendDlg::OnSendNotify(int code, int value)
{
    switch (code) {
    case SEND_PROGRESS:
        m_progress->SetPos(value);
        m_strCount = CountText(value, m_nTotal);
        UpdateElapsed();
        UpdateData(false);
        break;
    case SEND_DONE:
        SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(141));
        SetDlgItemText(IDC_BUTTON_CANCEL_SEND, LoadStr(129));
        break;
    case SEND_BEGIN:
        m_liStart = ClockTicks();
        break;
    default:
        break;
    }
    return 0;
}

void CSendDlg::UpdateElapsed()
{
    m_liNow = ClockTicks();
    m_strTime = ElapsedTimeText(m_liNow - m_liStart, m_liFrequency);
}

void CSendDlg::OnButtonPause()
{
    // The caption is the state.
    const QString caption = GetDlgItemText(IDC_BUTTON_PAUSE);
    if (caption == LoadStr(139)) {
        SendNotify(parentWidget(), SEND_PAUSE, 0);
        SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(140));
    } else if (caption == LoadStr(140)) {
        SendNotify(parentWidget(), SEND_RESUME, 0);
        SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(139));
    } else if (caption == LoadStr(141)) {
        // The owner answers with StartSend, which resets the texts.
        m_progress->SetPos(0);
        SendNotify(parentWidget(), SEND_RESTART, 0);
        SetDlgItemText(IDC_BUTTON_PAUSE, LoadStr(139));
    }
}

void CSendDlg::OnButtonCancel()
{
    if (GetDlgItemText(IDC_BUTTON_CANCEL_SEND) == LoadStr(142))
        SendNotify(parentWidget(), SEND_CANCEL, 0);
    hide();
}

void CSendDlg::OnOK() {}

void CSendDlg::OnCancel() {}
