#include "ui/agreement_dlg.h"

#include "app/korvo_app.h"
#include "dialog_templates.h"
#include "disclaimer_documents.h"
#include "platform/data_exchange.h"
#include "platform/language.h"
#include "platform/message_box.h"
#include "platform/program_icon.h"
#include "platform/strings.h"
#include "ui/rich_edit_ctrl.h"

#include <QComboBox>

#include <cstring>

int g_nRtfLine = 0;
std::size_t g_nRtfLineOffset = 0;

namespace {

bool IsKoreanSystemLanguage()
{
    return theApp.m_byLanguage == LANG_KOREAN;
}

// k: 0 Korean, 1 English, 2 French; the same on every kind of system.
const char* const* DocumentFor(int k)
{
    switch (k) {
    case 0:
        return g_rtfKorean;
    case 2:
        return g_rtfFrench;
    default:
        return g_rtfEnglish;
    }
}

} // namespace

CAgreementDlg::CAgreementDlg(QWidget* parent) : CDialog(AgreementDialogTemplate(), parent)
{
    MapCommand(IDC_CHECK_ACCEPT, [this] { OnCheckAccept(); });
    MapNotify(IDC_COMBO_LANGUAGE, CBN_SELCHANGE, [this] { OnSelchangeLanguage(); });
    // A disabled OK cannot accept, whoever asks.
    MapCommand(IDOK, [this] {
        if (QWidget* ok = GetDlgItem(IDOK); ok && ok->isEnabled())
            CDialog::OnOK();
    });
    MapCommand(IDCANCEL, [this] { OnExitConfirm(); });
}

CAgreementDlg::~CAgreementDlg() = default;

QWidget* CAgreementDlg::CreateControl(const ControlTemplate& control, QWidget* parent)
{
    if (control.id == IDC_RICHEDIT_AGREEMENT)
        return new CRichEditCtrl(parent);
    return CDialog::CreateControl(control, parent);
}

void CAgreementDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RICHEDIT_AGREEMENT, m_richText);
    DDX_Control(pDX, IDC_COMBO_LANGUAGE, m_comboLanguage);
}

bool CAgreementDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    setWindowIcon(ProgramIcon());

    m_strTitle = LoadStr(104);
    setWindowTitle(m_strTitle);
    SetDlgItemText(IDC_CHECK_ACCEPT, LoadStr(144));
    SetDlgItemText(IDOK, LoadStr(128));
    SetDlgItemText(IDCANCEL, LoadStr(142));
    SetDlgItemText(IDC_STATIC_LANGUAGE, LoadStr(145));

    if (IsKoreanSystemLanguage())
        m_comboLanguage->addItem(LoadStr(146));
    m_comboLanguage->addItem(LoadStr(147));
    m_comboLanguage->addItem(LoadStr(148));

    EnableDlgItem(IDOK, false);
    m_comboLanguage->setCurrentIndex(0);
    LoadDocument();
    return true;
}

void CAgreementDlg::OnCheckAccept()
{
    EnableDlgItem(IDOK, IsDlgButtonChecked(IDC_CHECK_ACCEPT));
}

void CAgreementDlg::OnSelchangeLanguage()
{
    LoadDocument();
}

void CAgreementDlg::LoadDocument()
{
    const int n = m_richText->GetFirstVisibleLine();
    if (n > 0)
        m_richText->LineScroll(-n);

    int k = m_comboLanguage->currentIndex();
    if (!IsKoreanSystemLanguage())
        k += 1;

    g_nRtfLine = 0;
    g_nRtfLineOffset = 0;

    EDITSTREAM es;
    es.dwCookie = reinterpret_cast<std::uintptr_t>(DocumentFor(k));
    es.pfnCallback = StreamInCallback;
    m_richText->StreamIn(SF_RTF, es);
}

std::uint32_t CAgreementDlg::StreamInCallback(std::uintptr_t dwCookie, std::uint8_t* pbBuff, std::int32_t cb,
                                              std::int32_t* pcb)
{
    const auto* const* lines = reinterpret_cast<const char* const*>(dwCookie);
    *pcb = 0;
    if (!lines || !pbBuff || cb <= 0 || g_nRtfLine < 0)
        return 0;
    const char* line = lines[g_nRtfLine];
    while (line && !*line) // an empty line would read as the end
        line = lines[++g_nRtfLine];
    if (!line)
        return 0;

    // A line longer than the buffer goes over in pieces; the next line starts
    // only once the whole of this one has been handed over.
    const std::size_t length = std::strlen(line);
    const std::size_t offset = g_nRtfLineOffset < length ? g_nRtfLineOffset : length;
    const std::size_t rest = length - offset;
    const std::size_t count = rest < static_cast<std::size_t>(cb) ? rest : static_cast<std::size_t>(cb);
    std::memcpy(pbBuff, line + offset, count);
    *pcb = static_cast<std::int32_t>(count);
    if (offset + count >= length) {
        ++g_nRtfLine;
        g_nRtfLineOffset = 0;
    } else {
        g_nRtfLineOffset = offset + count;
    }
    return 0;
}

void CAgreementDlg::OnExitConfirm()
{
    if (ShowMessageBox(this, LoadStr(127), m_strTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
        CDialog::OnCancel();
}
