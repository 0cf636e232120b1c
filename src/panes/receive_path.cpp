// The receive path: what arrives from the peer lands in the receive pane and
// is counted beside it.
#include "net/lum_sock.h"
#include "panes/hex_edit.h"
#include "telnet/telnet_receive.h"
#include "ui/korvo_dlg.h"

#include <QComboBox>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>

namespace {

constexpr int kBlockSize = SESSION_BLOCK_MAX;
// About sixty updates a second, as the pane repaints: setting the label's text
// for every block would cost a third of the time a flood takes.
constexpr std::chrono::milliseconds kCountInterval{16};

// Writes the counter alone. A full write-back would replace what the user is
// typing into the other fields, many times a second while data arrives.
void ShowReceiveCount(CKorvoDlg& dlg)
{
    dlg.m_tRecvCountShown = std::chrono::steady_clock::now();
    dlg.m_strRecvCount = QString::number(dlg.m_nRecvTotal);
    dlg.SetDlgItemText(IDC_STATIC_RECV_COUNT, dlg.m_strRecvCount);
    // The counter is read out by its number as it changes.
    if (QWidget* counter = dlg.GetDlgItem(IDC_STATIC_RECV_COUNT))
        counter->setAccessibleName(dlg.m_strRecvCount);
}

// Shows the count now, or when the interval since the last time has passed;
// it is always shown in the end.
void ShowReceiveCountSoon(CKorvoDlg& dlg)
{
    if (!dlg.m_pRecvCountTimer) {
        dlg.m_pRecvCountTimer = new QTimer(&dlg);
        dlg.m_pRecvCountTimer->setSingleShot(true);
        QObject::connect(dlg.m_pRecvCountTimer, &QTimer::timeout, &dlg, [&dlg] { ShowReceiveCount(dlg); });
    }
    if (dlg.m_pRecvCountTimer->isActive())
        return;
    const auto since = std::chrono::steady_clock::now() - dlg.m_tRecvCountShown;
    if (since >= kCountInterval)
        ShowReceiveCount(dlg);
    else
        dlg.m_pRecvCountTimer->start(std::chrono::ceil<std::chrono::milliseconds>(kCountInterval - since));
}

} // namespace

void CKorvoDlg::SetReceiveCount(std::int64_t total)
{
    m_strRecvCount = QString::number(total);
    UpdateData(false);
}

void CKorvoDlg::OnSocketReceive(CLumSock* socket, int nErrorCode)
{
    const int mode = m_comboMode->currentIndex();
    // A capture that cannot keep up holds reading; the peer is slowed by the
    // full socket, and nothing is dropped. Reading resumes when it releases.
    if (m_taps.ReceiveHeld())
        return;
    if (m_bTelnetActive) {
        TelnetOnReceiveData(*socket, nErrorCode);
        return;
    }

    // One block per event: the next event comes while more is waiting.
    std::uint8_t block[kBlockSize];
    int n;
    sockaddr_storage from{};
    sockaddr_storage to{};
    const bool udp = mode == MODE_UDP;
    if (udp) {
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC makes a datagram longer than the block show its real length
        // instead of arriving cut short.
        n = socket->ReceiveDatagram(block, kBlockSize, reinterpret_cast<sockaddr*>(&from), &fromLength, &to,
                                    MSG_TRUNC);
        if (n > kBlockSize) {
            errno = EMSGSIZE;
            n = -1;
        }
    } else {
        n = socket->Receive(block, kBlockSize);
    }
    if (n < 0) {
        const int error = errno;
        // An event that finds nothing to read is no failure.
        if (error != EWOULDBLOCK && error != EAGAIN) {
            ShowSystemError(error);
            return;
        }
        n = 0;
    }
    m_taps.Received(block, n, udp ? reinterpret_cast<const sockaddr*>(&from) : nullptr,
                    to.ss_family != AF_UNSPEC ? reinterpret_cast<const sockaddr*>(&to) : nullptr);
    m_hexRecv->AppendData(n, block);
    m_nRecvTotal += n;
    ShowReceiveCountSoon(*this);
}
