// The TELNET command: connect as the TCP client does, then run the Telnet
// window for as long as the user keeps it open.
#include "ui/korvo_dlg.h"

#include "telnet/tel_edit.h"

#include <QComboBox>

#include <sys/socket.h>

void CKorvoDlg::OnTelnet()
{
    if (!UpdateData(true))
        return;
    // The remote address is used as typed, blanks and all.
    if (!ConnectTcpClient())
        return;
    // A server's Synch sends its Data Mark as urgent data; read in band, the
    // mark is taken as the command it is and no data byte goes with it.
    const int on = 1;
    setsockopt(m_sock.m_hSocket, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
    m_bTelnetActive = true;
    m_nState = STATE_CONNECTING;
    m_comboMode->setEnabled(false);
    UpdateControls();
}

void CKorvoDlg::RunTelnetWindow()
{
    m_dlgTelnet.SetSession(&m_sock, static_cast<int>(m_nRemotePort));
    m_dlgTelnet.m_editTerminal->SetTaps(&m_taps);
    // The socket's events keep coming through the window's modal loop; the
    // main window takes no input meanwhile.
    setEnabled(false);
    m_dlgTelnet.setEnabled(true);
    m_dlgTelnet.DoModal();
    setEnabled(true);
}
