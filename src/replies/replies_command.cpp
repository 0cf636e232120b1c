// The window menu's Automatic Replies entry.
#include "replies/replies_dlg.h"
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnReplies()
{
    // Made on first use: until then no rule can answer anything.
    if (!m_pRepliesDlg)
        m_pRepliesDlg = std::make_unique<CRepliesDlg>(*this);
    m_pRepliesDlg->Open();
}
