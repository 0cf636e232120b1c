#include "telnet/telnet_receive.h"

#include "net/lum_sock.h"
#include "telnet/tel_edit.h"
#include "ui/korvo_dlg.h"

void TelnetOnReceiveData(CAsyncSocket& socket, int)
{
    // The program's sockets carry the dialog that owns the terminal.
    auto* sock = dynamic_cast<CLumSock*>(&socket);
    if (!sock || !sock->m_pDlg)
        return;
    CKorvoDlg* dlg = sock->m_pDlg;
    if (const int error = dlg->m_dlgTelnet.m_editTerminal->OnReceiveData(socket))
        dlg->ShowSystemError(error);
}
