// The receive path: what arrives from the peer, counted beside the receive pane.
#include "ui/korvo_dlg.h"

void CKorvoDlg::SetReceiveCount(std::int64_t total)
{
    m_strRecvCount = QString::number(total);
    UpdateData(false);
}
