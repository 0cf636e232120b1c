// The window menu's Messages entry.
#include "messages/messages_dlg.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnMessages()
{
    // Made once and kept: its runs, counters and place last as long as the window.
    if (!m_pMessagesDlg)
        m_pMessagesDlg = std::make_unique<CMessagesDlg>(*this);
    m_pMessagesDlg->Open();
}
