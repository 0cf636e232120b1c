#include "app/korvo_app.h"

#include "platform/command_ids.h"
#include "platform/language.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/socket_init.h"
#include "platform/strings.h"
#include "ui/agreement_dlg.h"
#include "ui/korvo_dlg.h"

CKorvoApp theApp;

namespace {

int RunAgreementDialog()
{
    CAgreementDlg dlg(nullptr);
    return dlg.DoModal();
}

void RunMainDialog()
{
    CKorvoDlg dlg(nullptr);
    dlg.DoModal();
}

} // namespace

bool CKorvoApp::InitInstance()
{
    const auto initSockets = m_steps.initSockets ? m_steps.initSockets : AfxSocketInit;
    const auto runAgreement = m_steps.runAgreement ? m_steps.runAgreement : RunAgreementDialog;
    const auto runMainDialog = m_steps.runMainDialog ? m_steps.runMainDialog : RunMainDialog;

    if (!initSockets()) {
        AfxMessageBox(LoadStr(103), MB_OK);
        return false;
    }
    Profile::SetRegistryKey(QString::fromLatin1(kRegistryKey));
    m_byLanguage = static_cast<std::uint8_t>(SystemDefaultLangId() & 0xFF);

    int value = Profile::GetProfileInt(QString::fromLatin1(kSection), QString::fromLatin1(kEntryAgreement), 0);
    if (value == 0) {
        if (runAgreement() == IDOK) {
            Profile::WriteProfileInt(QString::fromLatin1(kSection), QString::fromLatin1(kEntryAgreement), 1);
            value = 1;
        }
    }
    if (value != 1)
        return false;

    runMainDialog();
    return false;
}
