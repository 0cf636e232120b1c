// The network session: CONNECT and CLOSE in the three modes, the connect,
// accept and close events, and how each state is shown.
#include "ui/korvo_dlg.h"

#include "net/endpoint.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "platform/system_error.h"
#include "progress/send_dlg.h"
#include "telnet/tel_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int KEEPALIVE_TIME_MS = 10000;
constexpr int KEEPALIVE_INTERVAL_MS = 1000;
constexpr int MULTICAST_TTL = 8;

// First probe after 10 s of silence, then one a second. Failures leave the
// system's defaults; nothing is reported.
void SetKeepAlive(int handle)
{
    const int on = 1;
    const int idle = KEEPALIVE_TIME_MS / 1000;
    const int interval = KEEPALIVE_INTERVAL_MS / 1000;
    setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

// A socket made for the IPv6 choice serves IPv6 only, so the IPv4 port stays
// free for another session (the program's first platform behaves so).
void SetIPv6Only(int handle)
{
    const int on = 1;
    setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
}

void ShowUnknownFamily()
{
    AfxMessageBox(QString::fromLatin1(UNKNOWN_FAMILY_TEXT), MB_OK);
}

// Closes a handle not yet given to a socket object, keeping errno.
int CloseHandleKeepError(int handle)
{
    const int error = errno;
    ::close(handle);
    return error;
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
    AddrInfoPtr remote;
    if (const int code = Resolve(TcpConnectRequest(m_strRemoteIP, m_nRemotePort), remote)) {
        ShowSystemError(code);
        return false;
    }
    const addrinfo& address = *remote;
    int createError = 0;
    if (address.ai_family == AF_INET) {
        // A failure here shows up as the connect's error below, with its own
        // code rather than the connect's on no socket.
        if (!m_sock.Create(0, SOCK_STREAM))
            createError = errno;
    } else if (address.ai_family == AF_INET6) {
        const int handle = ::socket(AF_INET6, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
        if (handle < 0) {
            ShowSystemError(errno);
            return false;
        }
        if (!m_sock.Attach(handle)) {
            ShowSystemError(CloseHandleKeepError(handle));
            return false;
        }
    } else {
        ShowUnknownFamily();
        return false;
    }

    if (m_checkKeepAlive->isChecked())
        SetKeepAlive(m_sock.m_hSocket);

    if (!PrepareTls(m_sock, false)) {
        m_sock.Close();
        return false;
    }

    const socklen_t length = address.ai_family == AF_INET ? sizeof(sockaddr_in) : address.ai_addrlen;
    if (!m_sock.Connect(address.ai_addr, length)) {
        const int error = createError != 0 ? createError : errno;
        if (error != CAsyncSocket::SOCK_WOULDBLOCK) {
            ShowSystemError(error);
            m_sock.Close();
            return false;
        }
    }
    return true;
}

std::optional<SessionState> CKorvoDlg::ListenTcpServer()
{
    if (m_nState != STATE_READY)
        return m_nState;

    AddrInfoPtr local;
    const ResolverRequest request = TcpListenRequest(m_nLocalPort, IsDlgButtonChecked(IDC_RADIO_IPV4),
                                                     IsDlgButtonChecked(IDC_RADIO_IPV6));
    if (const int code = Resolve(request, local)) {
        ShowSystemError(code);
        return std::nullopt;
    }
    // The passive requests of both families yield one address.
    const addrinfo& address = *local;
    if (address.ai_family == AF_INET) {
        if (!m_sockListen.Create(m_nLocalPort, SOCK_STREAM)) {
            ShowSystemError(errno);
            m_sockListen.Close();
            return STATE_READY;
        }
    } else if (address.ai_family == AF_INET6) {
        const int handle = ::socket(AF_INET6, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
        if (handle < 0) {
            ShowSystemError(errno);
            return STATE_READY;
        }
        const int on = 1;
        setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        SetIPv6Only(handle);
        if (::bind(handle, address.ai_addr, address.ai_addrlen) != 0 || !m_sockListen.Attach(handle)) {
            ShowSystemError(CloseHandleKeepError(handle));
            return STATE_READY;
        }
    } else {
        ShowUnknownFamily();
        return std::nullopt;
    }

    if (m_checkKeepAlive->isChecked())
        SetKeepAlive(m_sockListen.m_hSocket);

    if (!PrepareTls(m_sockListen, true)) {
        m_sockListen.Close();
        return STATE_READY;
    }

    if (::listen(m_sockListen.m_hSocket, 1) != 0) {
        ShowSystemError(errno);
        m_sockListen.Close();
        return STATE_READY;
    }
    return STATE_LISTENING;
}

std::optional<SessionState> CKorvoDlg::OpenUdp()
{
    // No remote address: a plain IPv4 socket on the local port. Resolving the
    // empty name would give this machine's first address, ::1 here, and an
    // IPv6-only socket that never hears IPv4 datagrams.
    if (m_strRemoteIP.isEmpty())
        return OpenUdpIPv4() ? std::optional(STATE_UDP_OPEN) : std::nullopt;

    // The remote is resolved only to learn its family; the send path resolves
    // it again for every datagram.
    AddrInfoPtr remote;
    if (const int code = Resolve(UdpFamilyRequest(m_strRemoteIP, m_nLocalPort), remote)) {
        ShowSystemError(code);
        return std::nullopt;
    }
    if (remote->ai_family == AF_INET)
        return OpenUdpIPv4() ? std::optional(STATE_UDP_OPEN) : std::nullopt;
    if (remote->ai_family != AF_INET6) {
        ShowUnknownFamily();
        return std::nullopt;
    }

    AddrInfoPtr local;
    if (const int code = Resolve(UdpLocalIPv6Request(m_nLocalPort), local)) {
        ShowSystemError(code);
        return std::nullopt;
    }
    const int handle = ::socket(local->ai_family, local->ai_socktype | SOCK_CLOEXEC, local->ai_protocol);
    if (handle < 0) {
        ShowSystemError(errno);
        return std::nullopt;
    }
    SetIPv6Only(handle);
    if (::bind(handle, local->ai_addr, local->ai_addrlen) != 0 || !m_sock.Attach(handle)) {
        ShowSystemError(CloseHandleKeepError(handle));
        return std::nullopt;
    }
    return STATE_UDP_OPEN;
}

bool CKorvoDlg::OpenUdpIPv4()
{
    if (!IsMulticastRemote(m_strRemoteIP)) {
        if (!m_sock.Create(m_nLocalPort, SOCK_DGRAM)) {
            ShowSystemError(errno);
            return false;
        }
        const int on = 1;
        if (setsockopt(m_sock.m_hSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            const int error = errno;
            ShowSystemError(error);
            m_sock.Close();
            return false;
        }
        return true;
    }

    char hostName[512] = {};
    if (gethostname(hostName, sizeof hostName - 1) != 0) {
        ShowSystemError(errno);
        return false;
    }
    AddrInfoPtr local;
    if (const int code = Resolve(MulticastLocalRequest(hostName, m_nLocalPort), local)) {
        ShowSystemError(code);
        return false;
    }
    const int handle = ::socket(local->ai_family, local->ai_socktype | SOCK_CLOEXEC, local->ai_protocol);
    if (handle < 0) {
        ShowSystemError(errno);
        return false;
    }
    // Bound to the local port on all addresses, so that datagrams sent to the
    // group on that port arrive here.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<uint16_t>(m_nLocalPort));
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 || !m_sock.Attach(handle)) {
        ShowSystemError(CloseHandleKeepError(handle));
        return false;
    }

    AddrInfoPtr group;
    if (const int code = Resolve(MulticastGroupRequest(m_strRemoteIP, m_nLocalPort, *local), group)) {
        ShowSystemError(code);
        m_sock.Close();
        return false;
    }
    const int ttl = MULTICAST_TTL;
    const int loop = 0; // our own datagrams do not come back to us
    ip_mreq membership{};
    membership.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group->ai_addr)->sin_addr;
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    if (setsockopt(m_sock.m_hSocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        setsockopt(m_sock.m_hSocket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
        setsockopt(m_sock.m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        const int error = errno;
        ShowSystemError(error);
        m_sock.Close();
        return false;
    }
    return true;
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
