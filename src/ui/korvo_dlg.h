#pragma once

// CKorvoDlg: the main window. It owns the session, both panes and every
// other window for its lifetime. The handlers of each feature are defined in
// that feature's folder; this file declares them all in one place.
#include "net/endpoint.h"
#include "net/lum_sock.h"
#include "net/outgoing_queue.h"
#include "net/session_tap.h"
#include "panes/send_schedule.h"
#include "platform/dialog.h"
#include "platform/tick_timer.h"
#include "resource.h"
#include "telnet/tel_dlg.h"

#include <QFont>
#include <QIcon>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

class CCapture;
class CHexEdit;
class CMessagesDlg;
class CRepliesDlg;
class CSendDlg;
class CSpinButtonCtrl;
class CTlsDlg;
struct SessionOpenOutcome;
class QComboBox;
class QCheckBox;
class QLineEdit;
class QAction;
class QPushButton;
class QLabel;
class QTimer;

// Connection modes: the index of the mode combo box's item.
enum SessionMode : int {
    MODE_TCP_CLIENT = 0,
    MODE_TCP_SERVER = 1,
    MODE_UDP = 2,
};

// Session states (5 is not used).
enum SessionState : int {
    STATE_READY = 0,
    STATE_CONNECTING = 1,
    STATE_LISTENING = 2,
    STATE_CONNECTED = 3,
    STATE_UDP_OPEN = 4,
    STATE_PEER_CONNECTED = 6,
    STATE_PEER_CLOSED = 7,
};

// The send timer, and the most a tick sends.
enum : int {
    SEND_TIMER_ID = 1111,
    SEND_CHUNK_SIZE = 512,
};

class CKorvoDlg : public CDialog
{
    Q_OBJECT

public:
    explicit CKorvoDlg(QWidget* parent = nullptr);
    ~CKorvoDlg() override;

    void OnSysCommand(unsigned nID) override;

    // Shell (ui/korvo_dlg.cpp)
    void OnSelchangeMode();
    void OnButtonExit();
    void ConfirmExit();

    // Session (net/session.cpp)
    void OnButtonConnect();
    void OnButtonClose();
    void OnSocketConnect(CLumSock* socket, int error);
    void OnSocketAccept(CLumSock* socket, int error);
    void OnSocketClose(CLumSock* socket, int error);
    void UpdateControls();
    void SetStatusText(const QString& text);
    void ShowSystemError(int code);
    // Resolves and starts the TCP connect on m_sock; TELNET connects the same way.
    bool ConnectTcpClient();
    std::optional<SessionState> ListenTcpServer();
    std::optional<SessionState> OpenUdp();
    // Tells the user why a session could not open, unless it was told already.
    void ReportOpenFailure(const SessionOpenOutcome& outcome);

    // Pane commands (panes/pane_files.cpp)
    void OnButtonSaveRecv();
    void OnButtonSaveSend();
    void OnButtonLoad();
    void OnButtonClear();
    void OnButtonResize();
    // The saved messages' To Send Pane: the bytes into the send pane, and
    // Data Length to their length.
    void SetSendPaneBytes(const QByteArray& bytes);
    void SavePane(CHexEdit& pane);
    // The path the next file dialog starts from.
    static QString LastFilePath();
    // Back to the first path and filter, as at program start.
    static void ForgetLastFile();

    // Receive path (panes/receive_path.cpp)
    void SetReceiveCount(std::int64_t total);
    void OnSocketReceive(CLumSock* socket, int error);

    // Receive pane (panes/receive_focus.cpp)
    void OnSetfocusRicheditRecv();

    // Send path (panes/send_path.cpp)
    // Creates the hidden progress window and starts the send timer.
    void StartSendPath();
    void OnButtonSend();
    void OnTimer(int nIDEvent);
    void SendChunk();
    void OnSocketSend(CLumSock* socket, int error);
    // Commands from the progress window (SEND_CANCEL to SEND_RESTART).
    Q_INVOKABLE int OnSendNotify(int code, int value);
    void ShowSendDlg();
    // iDelta: the change the spin proposes (up -1, down +1, more when held).
    void OnDeltaposDataLength(int iDelta);

    // Window menu entries of the additions, each defined in its own folder
    // (capture/, messages/, replies/).
    void OnCaptureStart();
    void OnCaptureStop();
    void OnMessages();
    void OnReplies();
    void OnTls();

    // TLS (tls/tls_command.cpp): whether sessions speak it, and the socket
    // made ready for it before its connect or listen; false once the reason
    // was shown.
    bool IsTlsOn() const;
    bool PrepareTls(CLumSock& socket, bool server);
    // The title, with what the additions add to it while they are on.
    void ShowTitle();

    // Telnet (telnet/telnet_command.cpp)
    void OnTelnet();
    // Shows the Telnet window modally on the connected m_sock.
    void RunTelnetWindow();

    // Bound controls
    QComboBox* m_comboMode = nullptr;
    QCheckBox* m_checkKeepAlive = nullptr;
    QLineEdit* m_editRemoteIP = nullptr;
    CHexEdit* m_hexSend = nullptr;
    QPushButton* m_btnSaveRecv = nullptr;
    CSpinButtonCtrl* m_spinDataLength = nullptr;
    QLineEdit* m_editStatus = nullptr;
    CHexEdit* m_hexRecv = nullptr;
    QPushButton* m_btnTelnet = nullptr;
    QPushButton* m_btnSaveSend = nullptr;
    QPushButton* m_btnLoad = nullptr;
    QPushButton* m_btnSend = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnExit = nullptr;
    QPushButton* m_btnConnect = nullptr;
    QPushButton* m_btnClose = nullptr;

    // Bound values
    unsigned m_nRemotePort = 1470;
    unsigned m_nDataLength = 36;
    QString m_strRemoteIP = QStringLiteral("10.1.0.1");
    QString m_strRecvCount;
    unsigned m_nLocalPort = 1470;
    int m_nMode = -1;

    // Session
    CLumSock m_sock;
    CLumSock m_sockListen;
    SessionState m_nState = STATE_READY;
    bool m_bTelnetActive = false;
    // The accept failure last shown, so that a repeated one is shown once.
    int m_nAcceptErrorShown = 0;
    CTelDlg m_dlgTelnet{this};

    QIcon m_hIcon;
    QString m_strTitle;
    std::unique_ptr<QFont> m_pFontKorean;
    std::unique_ptr<QFont> m_pFontDefault;

    // Receive path; counted in 64 bits so a long session never wraps.
    std::int64_t m_nRecvTotal = 0;
    // The counter is written at most about sixty times a second.
    QTimer* m_pRecvCountTimer = nullptr;
    std::chrono::steady_clock::time_point m_tRecvCountShown;
    QString m_strPeer;

    // Send path: the transfer's length and progress, and two flags (0 or 1).
    int m_bSendBlocked = 0;
    int m_nSendTotal = 0;
    int m_nSendCount = 0;
    int m_bSendPaused = 0;
    std::unique_ptr<CSendDlg> m_pSendDlg;

    // What the additions see of the session, and how they send on it.
    SessionTaps m_taps;
    OutgoingQueue m_outgoing;
    // The additions, made when first asked for; gone before the session.
    std::unique_ptr<CCapture> m_pCapture;
    std::unique_ptr<CMessagesDlg> m_pMessagesDlg;
    std::unique_ptr<CRepliesDlg> m_pRepliesDlg;
    std::unique_ptr<CTlsDlg> m_pTlsDlg;
    // Window menu entries with their shortcuts, which work while the menu is closed.
    QAction* m_actCaptureStart = nullptr;
    QAction* m_actCaptureStop = nullptr;
    QAction* m_actMessages = nullptr;
    QAction* m_actReplies = nullptr;
    QAction* m_actTls = nullptr;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void SetCaptions();
    // The send timer: stopped while a tick runs, then armed for the next tick
    // of the schedule; Wake brings an idle timer forward.
    void KillSendTimer();
    void SetSendTimer();
    void WakeSendTimer();
    bool CanSendChunk() const;
    // The queue's chunk may go at `now`: never inside a chunk of the pane.
    bool CanSendQueued(std::chrono::steady_clock::time_point now) const;
    void SendQueuedChunk();
    // When the next tick has something to send; none when nothing can go.
    std::optional<std::chrono::steady_clock::time_point> NextSendTick(std::chrono::steady_clock::time_point now) const;
    // Where a datagram to the Remote Host fields goes; 0 or the resolver's code.
    int ResolveUdpDestination(AddrInfoPtr& remote);
    // A send failed: the session ends as the pane's send error ends it.
    void EndSessionBySendError(int error);
    // The additions hear of the session's opening and end; the queue belongs
    // to one session.
    void BeginTapSession(const SessionInfo& session);
    void EndTapSession(const SessionEnd& end);
    void AddWindowActions();
    void SetAccessibleNames();
    void ShowWindowMenu(const QPoint& globalPos);

    CTickTimer m_sendTimer{[this] { OnTimer(SEND_TIMER_ID); }};
    SendSchedule m_sendSchedule;
    bool m_bInSendTick = false;
    // Where the pane's chunk that was sent short ends: the queue waits for it.
    int m_nPaneChunkEnd = 0;
};
