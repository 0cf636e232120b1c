// The window menu's TLS entry, and TLS for the sessions the window starts.
#include "platform/message_box.h"
#include "tls/tls_context.h"
#include "tls/tls_dlg.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnTls()
{
    // Made on first use; until then no session speaks TLS.
    if (!m_pTlsDlg)
        m_pTlsDlg = std::make_unique<CTlsDlg>(*this);
    m_pTlsDlg->Open();
}

bool CKorvoDlg::IsTlsOn() const
{
    return m_pTlsDlg && m_pTlsDlg->IsOn();
}

bool CKorvoDlg::PrepareTls(CLumSock& socket, bool server)
{
    if (!IsTlsOn())
        return true;
    // Files are read, and a throwaway certificate made, for each session anew.
    QString error;
    const auto context =
        TlsContext::Create(m_pTlsDlg->Settings(), server ? TlsRole::Server : TlsRole::Client, &error);
    if (!context) {
        ShowMessageBox(this, error, m_strTitle, MB_OK | MB_ICONHAND);
        return false;
    }
    socket.UseTls(context, server ? QString() : m_strRemoteIP);
    if (server)
        m_pTlsDlg->ShowOwnCertificate(context->OwnCertificate());
    return true;
}
