#include "ui/about_dlg.h"

#include "dialog_templates.h"
#include "platform/data_exchange.h"
#include "platform/fonts.h"
#include "platform/program_icon.h"
#include "platform/strings.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : CDialog(AboutDialogTemplate(), parent), m_pFontKorean(std::make_unique<QFont>(CreateKoreanFont())),
      m_pFontDefault(std::make_unique<QFont>(CreateDefaultFont()))
{
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Text(pDX, IDC_STATIC_VERSION, m_strVersion);
}

bool CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    setWindowIcon(ProgramIcon());
    m_strVersion = LoadStr(104);
    SetDlgItemText(IDOK, LoadStr(128));
    SendFontToDescendants(this, FontForSystemLanguage(*m_pFontKorean, *m_pFontDefault));
    UpdateData(false);
    return true;
}
