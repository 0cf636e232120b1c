// The network session: CONNECT and CLOSE in the three modes, the connect,
// accept and close events, and how each state is shown.
#include "ui/korvo_dlg.h"

#include "net/endpoint.h"
#include "net/session_open.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "platform/system_error.h"
#include "progress/send_dlg.h"
#include "telnet/tel_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>


namespace {

void ShowUnknownFamily()
{
    AfxMessageBox(QString::fromLatin1(UNKNOWN_FAMILY_TEXT), MB_OK);
}

} // namespace

void CKorvoDlg::OnButtonConnect()
{
    const int mode = m_comboMode->currentIndex();
    m_bTelnetActive = false;
    if (!UpdateData(true))
        return;
    m_strRemoteIP = TrimRemoteAddress(m_strRemoteIP);

    std::optional<SessionState> next;
    switch (mode) {
    case MODE_TCP_SERVER:
        next = ListenTcpServer();
        break;
    case MODE_UDP:
        next = OpenUdp();
        break;
    default:
        if (ConnectTcpClient())
            next = STATE_CONNECTING;
        break;
    }
    if (!next)
        return;
    m_nState = *next;
    m_comboMode->setEnabled(false);
    if (m_nState == STATE_UDP_OPEN) {
        // Each datagram's destination, for the taps: a group or a broadcast
        // address as well as one of this machine's.
        m_sock.ReportDestinations();
        BeginTapSession(DescribeSession(m_sock.m_hSocket, SessionProtocol::Udp, false, false));
    }
    UpdateControls();
}

bool CKorvoDlg::ConnectTcpClient()
{
    const SessionOpenOutcome outcome =
        ConnectTcpSession(m_sock, m_strRemoteIP, m_nRemotePort, m_checkKeepAlive->isChecked(),
                          [this](CAsyncSocket&) { return PrepareTls(m_sock, false); });
    ReportOpenFailure(outcome);
    return outcome.Ok();
}

std::optional<SessionState> CKorvoDlg::ListenTcpServer()
{
    if (m_nState != STATE_READY)
        return m_nState;
    const SessionOpenOutcome outcome = ListenTcpSession(
        m_sockListen, m_nLocalPort, IsDlgButtonChecked(IDC_RADIO_IPV4), IsDlgButtonChecked(IDC_RADIO_IPV6),
        m_checkKeepAlive->isChecked(), [this](CAsyncSocket&) { return PrepareTls(m_sockListen, true); });
    ReportOpenFailure(outcome);
    if (outcome.Ok())
        return STATE_LISTENING;
    // A socket that failed after the address was found leaves the session
    // Ready; a failed look-up leaves everything as it stood.
    if (outcome.resolved)
        return STATE_READY;
    return std::nullopt;
}

std::optional<SessionState> CKorvoDlg::OpenUdp()
{
    const SessionOpenOutcome outcome = OpenUdpSession(m_sock, m_strRemoteIP, m_nLocalPort);
    ReportOpenFailure(outcome);
    if (outcome.Ok())
        return STATE_UDP_OPEN;
    return std::nullopt;
}

void CKorvoDlg::ReportOpenFailure(const SessionOpenOutcome& outcome)
{
    // A refusal of the preparation has been told already.
    if (outcome.unknownFamily)
        ShowUnknownFamily();
    else if (outcome.error != 0)
        ShowSystemError(outcome.error);
}

void CKorvoDlg::OnButtonClose()
{
    m_sock.Close();
    m_sockListen.Close();
    EndTapSession(SessionEnd::ClosedBy(SessionSide::Local));
    // A new session reports its own accept failures afresh.
    m_nAcceptErrorShown = 0;
    m_nState = STATE_READY;
    UpdateControls();
}

void CKorvoDlg::OnSocketConnect(CLumSock*, int error)
{
    if (error != 0) {
        m_bTelnetActive = false;
        ShowSystemError(error);
        m_sock.Close();
        m_nState = STATE_READY;
        UpdateControls();
        return;
    }
    if (m_comboMode->currentIndex() == MODE_UDP)
        return;
    m_nState = STATE_CONNECTED;
    BeginTapSession(DescribeSession(m_sock.m_hSocket, SessionProtocol::Tcp, false, m_bTelnetActive));
    if (m_bTelnetActive) {
        UpdateControls();
        RunTelnetWindow();
        m_sock.Close();
        EndTapSession(SessionEnd::ClosedBy(SessionSide::Local));
        m_bTelnetActive = false;
        m_nState = STATE_READY;
    }
    UpdateControls();
}

void CKorvoDlg::OnSocketAccept(CLumSock*, int error)
{
    if (error != 0) {
        ShowSystemError(error);
        // Ready means no socket is open: a listening socket left behind would
        // hold the port, and no later Listen could bind it.
        m_sockListen.Close();
        m_nState = STATE_READY;
        UpdateControls();
        return;
    }
    if (m_nState == STATE_PEER_CONNECTED) {
        // One peer at a time: a second one is accepted and let go at once.
        CLumSock refused;
        if (m_sockListen.Accept(refused))
            refused.Close();
        UpdateControls();
        return;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (!m_sockListen.Accept(m_sock, reinterpret_cast<sockaddr*>(&peer), &length)) {
        // Short of descriptors the listener retries every little while; the
        // same failure again is not shown again.
        const int error = errno;
        if (error != m_nAcceptErrorShown)
            ShowSystemError(error);
        m_nAcceptErrorShown = error;
        return;
    }
    m_nAcceptErrorShown = 0;
    m_nState = STATE_PEER_CONNECTED;
    if (const auto text = FormatPeerEndpoint(reinterpret_cast<const sockaddr*>(&peer)))
        m_strPeer = *text;
    BeginTapSession(DescribeSession(m_sock.m_hSocket, SessionProtocol::Tcp, true, false));
    UpdateControls();
}

void CKorvoDlg::OnSocketClose(CLumSock*, int error)
{
    // The socket closes itself once this returns.
    EndTapSession(error != 0 ? SessionEnd::Failed(error) : SessionEnd::ClosedBy(SessionSide::Remote));
    if (m_bTelnetActive) {
        m_dlgTelnet.m_editTerminal->OnConnectionClosed();
        return;
    }
    m_nState = m_nState == STATE_PEER_CONNECTED ? STATE_PEER_CLOSED : STATE_READY;
    UpdateControls();
}

void CKorvoDlg::UpdateControls()
{
    // A field that does not validate gets its message, and the state is shown
    // all the same: the window must never claim a session that has ended.
    UpdateData(true);
    const int mode = m_comboMode->currentIndex();
    const bool client = mode == MODE_TCP_CLIENT;
    const bool server = mode == MODE_TCP_SERVER;
    const bool udp = mode == MODE_UDP;

    if (m_nState == STATE_READY && m_pSendDlg)
        m_pSendDlg->hide();
    m_btnClose->setText(LoadStr(119));

    // One row per state; an empty cell leaves the control as it is.
    using Cell = std::optional<bool>;
    struct Row
    {
        Cell connect, close, send, telnet, remoteIP, remotePort, localPort, keepAlive, combo;
        QString status;
    };
    const Cell remoteIPOff = server ? Cell() : Cell(false);
    Row row;
    switch (m_nState) {
    case STATE_READY:
        row = {true,
               false,
               false,
               client,
               server ? Cell() : Cell(true),
               client || udp,
               server || udp,
               client || server,
               true,
               LoadStr(121)};
        break;
    case STATE_CONNECTING:
        row = {false, true, false, false, remoteIPOff, false, {}, false, {}, LoadStr(122)};
        break;
    case STATE_LISTENING:
        row = {false, true, false, false, remoteIPOff, {}, false, false, {}, LoadStr(123)};
        break;
    case STATE_CONNECTED:
        row = {false, true, true, false, remoteIPOff, false, {}, {}, {}, LoadStr(124)};
        break;
    case STATE_UDP_OPEN:
        row = {false, true, true, {}, false, false, false, {}, {}, LoadStr(121)};
        break;
    case STATE_PEER_CONNECTED:
        row = {false, true, true, false, remoteIPOff,
               false, {},   {},   {},    LoadStr(124) + QLatin1Char('[') + m_strPeer + QLatin1Char(']')};
        break;
    case STATE_PEER_CLOSED:
        row = {false, true, false, false, remoteIPOff, false, {}, {}, {}, LoadStr(123)};
        break;
    default:
        return;
    }

    const auto apply = [](QWidget* control, Cell cell) {
        if (control && cell)
            control->setEnabled(*cell);
    };
    apply(m_btnConnect, row.connect);
    apply(m_btnClose, row.close);
    apply(m_btnSend, row.send);
    apply(m_btnTelnet, row.telnet);
    apply(GetDlgItem(IDC_EDIT_REMOTE_IP), row.remoteIP);
    apply(GetDlgItem(IDC_EDIT_REMOTE_PORT), row.remotePort);
    apply(GetDlgItem(IDC_EDIT_LOCAL_PORT), row.localPort);
    apply(m_checkKeepAlive, row.keepAlive);
    apply(m_comboMode, row.combo);
    SetStatusText(row.status);
}

void CKorvoDlg::BeginTapSession(const SessionInfo& session)
{
    m_outgoing.Clear();
    // A pane chunk begun on the last session has no middle on this one.
    m_nPaneChunkEnd = m_nSendCount;
    m_taps.Opened(session);
}

void CKorvoDlg::EndTapSession(const SessionEnd& end)
{
    // Whatever was queued for the session that ended never goes out on the next.
    m_outgoing.Clear();
    m_taps.Ended(end);
}

void CKorvoDlg::SetStatusText(const QString& text)
{
    m_editStatus->setText(text);
    m_editStatus->end(false);
}

void CKorvoDlg::ShowSystemError(int code)
{
    const QString text = SystemErrorText(code);
    if (text.isEmpty())
        return;
    ShowMessageBox(this, text, m_strTitle, MB_OK | MB_ICONHAND);
}
