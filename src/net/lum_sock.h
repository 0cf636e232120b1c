#pragma once

// CLumSock: the program's socket. It carries a pointer to the main dialog and
// hands every event to the dialog, which holds the session logic.
#include "platform/async_socket.h"

class CKorvoDlg;

class CLumSock : public CAsyncSocket
{
public:
    CLumSock() = default;
    ~CLumSock() override = default;

    // Not owned; set by the dialog while it initialises, before any socket opens.
    CKorvoDlg* m_pDlg = nullptr;

protected:
    void OnReceive(int nErrorCode) override;
    void OnSend(int nErrorCode) override;
    void OnAccept(int nErrorCode) override;
    void OnConnect(int nErrorCode) override;
    void OnClose(int nErrorCode) override;
};
