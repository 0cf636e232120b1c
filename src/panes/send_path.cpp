// The send path: the send pane's bytes to the peer, one chunk of at most 512
// bytes per tick of the send timer, with the progress window following.
#include "ui/korvo_dlg.h"

#include "net/endpoint.h"
#include "panes/hex_edit.h"
#include "platform/spin_button.h"
#include "progress/send_dlg.h"

#include <QComboBox>

#include <algorithm>
#include <cerrno>

namespace {

bool IsSendingState(SessionState state)
{
    return state == STATE_CONNECTED || state == STATE_UDP_OPEN || state == STATE_PEER_CONNECTED;
}

int SocketFamily(int handle)
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    return getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) == 0 ? local.ss_family
                                                                                  : AF_UNSPEC;
}

} // namespace

void CKorvoDlg::StartSendPath()
{
    if (!m_pSendDlg) {
        m_pSendDlg = std::make_unique<CSendDlg>(this);
        m_pSendDlg->Create();
        m_pSendDlg->hide();
    }
    MapCommand(IDC_BUTTON_SEND, [this] { OnButtonSend(); });
    connect(m_spinDataLength, &CSpinButtonCtrl::deltaPos, this,
            [this](int iDelta) { OnDeltaposDataLength(iDelta); });
    SetSendTimer();
}

void CKorvoDlg::OnButtonSend()
{
    m_nSendCount = 0;
    m_bSendPaused = 0;
    m_nSendTotal = m_hexSend->m_nLength;
    m_nPaneChunkEnd = 0;
    // A send that was blocked stays blocked: the socket is still full.
    m_pSendDlg->StartSend(m_nSendTotal);
    ShowSendDlg();
    WakeSendTimer();
}

void CKorvoDlg::ShowSendDlg()
{
    const QRect main = frameGeometry();
    QRect dlg = m_pSendDlg->frameGeometry();
    // Until its first showing the window has no frame yet: it will get one
    // like the main window's.
    if (dlg == m_pSendDlg->geometry()) {
        const QRect client = geometry();
        dlg += QMargins(client.left() - main.left(), client.top() - main.top(), main.right() - client.right(),
                        main.bottom() - client.bottom());
    }
    m_pSendDlg->move(main.left() + (main.width() - dlg.width()) / 2,
                     main.top() + (main.height() - dlg.height()) / 2);
    m_pSendDlg->show();
}

bool CKorvoDlg::CanSendChunk() const
{
    // A Telnet session owns the data socket: the rest of an unfinished
    // transfer waits for a session of its own.
    return IsSendingState(m_nState) && !m_bTelnetActive && !m_bSendPaused && !m_bSendBlocked &&
           m_nSendCount < m_nSendTotal;
}

void CKorvoDlg::KillSendTimer()
{
    m_sendTimer.Stop();
}

bool CKorvoDlg::CanSendQueued(SendSchedule::Clock::time_point now) const
{
    // The rest of a pane chunk that went out short comes first, so the queue's
    // bytes never land inside one of the pane's chunks: paused in its middle,
    // the queue waits for Start too.
    const bool paneChunkOpen = m_nSendCount < m_nPaneChunkEnd;
    return IsSendingState(m_nState) && !m_bTelnetActive && !m_bSendBlocked && !paneChunkOpen &&
           !m_taps.SendHeld() && m_outgoing.Next(now) != nullptr;
}

std::optional<SendSchedule::Clock::time_point>
CKorvoDlg::NextSendTick(SendSchedule::Clock::time_point now) const
{
    std::optional<SendSchedule::Clock::time_point> due;
    if (CanSendChunk())
        due = m_sendSchedule.Next(true, now);
    // A queue held by a paused pane chunk waits for Start, which wakes the
    // timer; one held by a capture that is behind waits for its release.
    const bool heldByPane = m_nSendCount < m_nPaneChunkEnd && !CanSendChunk();
    if (const auto queued = m_outgoing.NextDue(); queued && IsSendingState(m_nState) && !m_bTelnetActive &&
                                                  !m_bSendBlocked && !heldByPane && !m_taps.SendHeld()) {
        const auto at = m_sendSchedule.Next(true, std::max(now, *queued));
        due = due ? std::min(*due, at) : at;
    }
    return due;
}

void CKorvoDlg::SetSendTimer()
{
    // The slow idle tick also bounds the wait for a queued item due much later.
    const auto now = SendSchedule::Clock::now();
    const auto idle = m_sendSchedule.Next(false, now);
    m_sendTimer.StartAt(std::min(idle, NextSendTick(now).value_or(idle)));
}

void CKorvoDlg::WakeSendTimer()
{
    // A tick under way arms the timer itself when it ends.
    if (m_bInSendTick)
        return;
    const auto due = NextSendTick(SendSchedule::Clock::now());
    if (due && (!m_sendTimer.IsActive() || *due < m_sendTimer.Due()))
        m_sendTimer.StartAt(*due);
}

void CKorvoDlg::OnTimer(int nIDEvent)
{
    if (nIDEvent != SEND_TIMER_ID)
        return;
    // Stopped for the length of the tick, so a message box opened by the
    // chunk cannot bring another tick into this one.
    m_sendSchedule.TickStarted(m_sendTimer.Due());
    KillSendTimer();
    m_bInSendTick = true;
    if (CanSendChunk())
        SendChunk();
    // At most one chunk of the queue per tick as well.
    if (CanSendQueued(SendSchedule::Clock::now()))
        SendQueuedChunk();
    m_bInSendTick = false;
    SetSendTimer();
}

void CKorvoDlg::SendChunk()
{
    const int mode = m_comboMode->currentIndex();
    const int n = std::min(m_nSendTotal - m_nSendCount, static_cast<int>(SEND_CHUNK_SIZE));
    if (m_nSendCount == 0)
        m_pSendDlg->OnSendNotify(SEND_BEGIN, 0);

    // Read from the pane as it is now: bytes edited since SEND go out edited,
    // and bytes cut off by a shorter length go out as zeros.
    const std::uint8_t* chunk = m_hexSend->m_pData + m_nSendCount;
    int r;
    AddrInfoPtr remote;
    if (mode == MODE_UDP) {
        if (const int code = ResolveUdpDestination(remote)) {
            // Reported once: the transfer pauses, so the user can press Start
            // to try again instead of meeting one message box after another.
            m_bSendPaused = 1;
            m_pSendDlg->ShowPaused();
            if (!m_pSendDlg->isVisible())
                ShowSendDlg();
            ShowSystemError(code);
            return;
        }
        r = m_sock.SendTo(chunk, n, remote->ai_addr, remote->ai_addrlen);
    } else {
        r = m_sock.Send(chunk, n);
    }
    // Read before anything else can touch it.
    const int error = r < 0 ? errno : 0;

    if (r < 0) {
        if (error == CAsyncSocket::SOCK_WOULDBLOCK) {
            // The same bytes go again once the socket has room.
            m_bSendBlocked = 1;
            m_nPaneChunkEnd = m_nSendCount + n;
            return;
        }
        EndSessionBySendError(error);
        return;
    }
    if (r < n)
        m_nPaneChunkEnd = m_nSendCount + n;
    if (r > 0) {
        m_taps.Sent(chunk, r, remote ? remote->ai_addr : nullptr);
        m_nSendCount += r;
        m_pSendDlg->OnSendNotify(SEND_PROGRESS, m_nSendCount);
        if (m_nSendCount == m_nSendTotal)
            m_pSendDlg->OnSendNotify(SEND_DONE, 0);
    }
}

int CKorvoDlg::ResolveUdpDestination(AddrInfoPtr& remote)
{
    m_strRemoteIP = TrimRemoteAddress(m_strRemoteIP);
    ResolverRequest request = UdpSendRequest(m_strRemoteIP, m_nRemotePort);
    // No remote address stands for this machine. Its loopback in the socket's
    // own family, or ::1 would come first and could never leave the IPv4
    // socket that an empty address opens.
    if (m_strRemoteIP.isEmpty())
        request.family = SocketFamily(m_sock.m_hSocket);
    return Resolve(request, remote);
}

void CKorvoDlg::EndSessionBySendError(int error)
{
    m_nState = STATE_READY;
    m_sock.Close();
    // Ready means no socket is open: a listener left behind would hold the port.
    m_sockListen.Close();
    EndTapSession(SessionEnd::Failed(error));
    ShowSystemError(error);
    UpdateControls();
}

void CKorvoDlg::SendQueuedChunk()
{
    const OutgoingQueue::Item* item = m_outgoing.Next(SendSchedule::Clock::now());
    if (!item)
        return;
    // A copy shares the bytes and stays valid whatever a tap queues meanwhile.
    const QByteArray bytes = item->bytes;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + item->sent;
    const int left = static_cast<int>(bytes.size() - item->sent);
    const bool udp = m_comboMode->currentIndex() == MODE_UDP;
    int r;
    const sockaddr* to = nullptr;
    AddrInfoPtr remote;
    if (udp) {
        // A datagram holds the whole item, so its bytes arrive together.
        socklen_t length = item->destinationLength;
        if (item->destination) {
            to = reinterpret_cast<const sockaddr*>(&*item->destination);
        } else if (const int code = ResolveUdpDestination(remote)) {
            // This item fails; the session stays, as it does for the pane.
            m_outgoing.Fail(code);
            ShowSystemError(code);
            return;
        } else {
            to = remote->ai_addr;
            length = remote->ai_addrlen;
        }
        r = m_sock.SendTo(data, left, to, length);
    } else {
        r = m_sock.Send(data, std::min(left, static_cast<int>(SEND_CHUNK_SIZE)));
    }
    const int error = r < 0 ? errno : 0;

    if (r < 0) {
        if (error == CAsyncSocket::SOCK_WOULDBLOCK) {
            // The same bytes go again once the socket has room.
            m_bSendBlocked = 1;
            return;
        }
        m_outgoing.Fail(error);
        EndSessionBySendError(error);
        return;
    }
    if (r > 0) {
        m_taps.Sent(data, r, to);
        m_outgoing.Advance(r, udp);
    }
}

void CKorvoDlg::OnSocketSend(CLumSock*, int error)
{
    if (error != 0)
        return;
    m_bSendBlocked = 0;
    WakeSendTimer();
}

int CKorvoDlg::OnSendNotify(int code, int)
{
    switch (code) {
    case SEND_CANCEL:
        m_bSendPaused = 1;
        // The transfer only starts over from here on, so a chunk that went out
        // short is given up and the queue need not wait for it.
        m_nPaneChunkEnd = m_nSendCount;
        WakeSendTimer();
        break;
    case SEND_PAUSE:
        m_bSendPaused = 1;
        break;
    case SEND_RESUME:
        m_bSendPaused = 0;
        WakeSendTimer();
        break;
    case SEND_RESTART:
        m_nSendTotal = m_hexSend->m_nLength;
        m_nSendCount = 0;
        m_nPaneChunkEnd = 0;
        m_pSendDlg->StartSend(m_nSendTotal);
        m_bSendPaused = 0;
        WakeSendTimer();
        break;
    default:
        break;
    }
    return 0;
}

void CKorvoDlg::OnDeltaposDataLength(int iDelta)
{
    if (m_nDataLength != 0)
        m_nDataLength -= static_cast<unsigned>(iDelta); // wraps, as unsigned numbers do
    else if (iDelta < 0)
        m_nDataLength = 1;
    // The step works on the stored number: text typed and not yet taken over
    // is written over, as every other write of the fields does.
    UpdateData(false);
}
