// The receive path: what arrives from the peer, counted beside the receive pane.
#include "ui/korvo_dlg.h"

void CKorvoDlg::SetReceiveCount(std::int64_t total)
{
    m_strRecvCount = QString::number(total);
    UpdateData(false);
}

void CKorvoDlg::OnSocketReceive(CLumSock* socket, int)
{
    // One block per event keeps the event loop turning; the bytes are not
    // shown yet.
    char block[4096];
    socket->Receive(block, sizeof block);
}
