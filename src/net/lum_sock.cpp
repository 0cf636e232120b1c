#include "net/lum_sock.h"

#include "ui/korvo_dlg.h"

void CLumSock::OnReceive(int nErrorCode)
{
    if (m_pDlg)
        m_pDlg->OnSocketReceive(this, nErrorCode);
    CAsyncSocket::OnReceive(nErrorCode);
}

void CLumSock::OnSend(int nErrorCode)
{
    if (m_pDlg)
        m_pDlg->OnSocketSend(this, nErrorCode);
    CAsyncSocket::OnSend(nErrorCode);
}

void CLumSock::OnAccept(int nErrorCode)
{
    if (m_pDlg)
        m_pDlg->OnSocketAccept(this, nErrorCode);
    CAsyncSocket::OnAccept(nErrorCode);
}

void CLumSock::OnConnect(int nErrorCode)
{
    if (m_pDlg)
        m_pDlg->OnSocketConnect(this, nErrorCode);
    CAsyncSocket::OnConnect(nErrorCode);
}

void CLumSock::OnClose(int nErrorCode)
{
    const auto alive = LifeToken();
    const unsigned generation = Generation();
    if (m_pDlg)
        m_pDlg->OnSocketClose(this, nErrorCode);
    CAsyncSocket::OnClose(nErrorCode);
    // The connection that reported the close is finished whatever the dialog
    // did; a socket the dialog opened anew in the meantime is left alone.
    if (*alive && generation == Generation())
        Close();
}
