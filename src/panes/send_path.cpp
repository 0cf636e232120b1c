// The send path: the send pane's bytes to the peer.
#include "ui/korvo_dlg.h"

void CKorvoDlg::OnSocketSend(CLumSock*, int)
{
    // Nothing waits to be sent yet.
}
