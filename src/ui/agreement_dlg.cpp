#include "ui/agreement_dlg.h"

#include "dialog_templates.h"
#include "platform/message_box.h"
#include "platform/program_icon.h"
#include "platform/strings.h"

CAgreementDlg::CAgreementDlg(QWidget* parent) : CDialog(AgreementDialogTemplate(), parent)
{
    MapCommand(IDC_CHECK_ACCEPT, [this] { OnCheckAccept(); });
    MapCommand(IDCANCEL, [this] { OnExitConfirm(); });
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
    EnableDlgItem(IDOK, false);
    return true;
}

void CAgreementDlg::OnCheckAccept()
{
    EnableDlgItem(IDOK, IsDlgButtonChecked(IDC_CHECK_ACCEPT));
}

void CAgreementDlg::OnExitConfirm()
{
    if (ShowMessageBox(this, LoadStr(127), m_strTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
        OnCancel();
}
