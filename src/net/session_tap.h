#pragma once

// SessionTap: how the additions (capture, saved messages, automatic replies)
// see the session. The main window and the Telnet path report each session's
// opening and end, every block as it was read and every chunk the system
// accepted; a tap subscribes to the main window's SessionTaps.
//
// Calls come on the GUI thread, from inside the socket handlers. A tap may
// unsubscribe itself (or another) from inside a call, but must not close or
// reopen the session's sockets there.
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// When a block moved: the wall clock for what people read, the monotonic clock
// for intervals.
struct TapTime
{
    std::chrono::system_clock::time_point wall;
    std::chrono::steady_clock::time_point steady;

    static TapTime Now();
};

enum class SessionProtocol { Tcp, Udp };

// The longest block a session reads at once; over UDP a longer datagram is
// refused, so nothing longer is ever received in one.
inline constexpr int SESSION_BLOCK_MAX = 4096;

struct SessionInfo
{
    SessionProtocol protocol = SessionProtocol::Tcp;
    // TCP: the peer was accepted by the server rather than connected to.
    bool server = false;
    // The Telnet window owns the connection.
    bool telnet = false;
    // ss_family is AF_UNSPEC where an address is not known. For UDP the
    // remote is the Remote Host as it stood when the socket opened; each
    // datagram carries its own peer.
    sockaddr_storage local{};
    sockaddr_storage remote{};
};

// Who ended a session: Korvo's side or the peer's.
enum class SessionSide { Local, Remote };

// How a session ended: closed by one side, or failed on one side.
struct SessionEnd
{
    SessionSide side = SessionSide::Local;
    bool byError = false;
    // The errno value of a failure; 0 where none is known.
    int error = 0;

    static SessionEnd ClosedBy(SessionSide side) { return {side, false, 0}; }
    // A failure, on the side its code names: a reset, a broken pipe or a
    // refusal came from the peer; a timeout (keep-alive), an unreachable
    // network or any other failure is Korvo's own side giving up.
    static SessionEnd Failed(int error);
    bool operator==(const SessionEnd&) const = default;
};

class SessionTap
{
public:
    virtual ~SessionTap() = default;

    virtual void OnSessionOpened(const SessionInfo&, const TapTime&) {}
    // `peer`: the datagram's source or destination over UDP, the session's
    // remote over TCP. `length` is at least 1.
    // `to` (received only): where the datagram was addressed, a group, a
    // broadcast address or one of this machine's; null where not known and
    // over TCP.
    virtual void OnBytesReceived(const std::uint8_t*, int /*length*/, const sockaddr* /*peer*/,
                                 const sockaddr* /*to*/, const TapTime&)
    {
    }
    virtual void OnBytesSent(const std::uint8_t*, int /*length*/, const sockaddr* /*peer*/, const TapTime&) {}
    virtual void OnSessionEnded(const SessionEnd&, const TapTime&) {}
    // True while the tap can take no more received data. The session then
    // stops reading until the tap calls SessionTaps::Release.
    virtual bool HoldsReceive() const { return false; }
    // True while the tap can take no more of the outgoing queue's bytes
    // (saved messages, replies): they wait until SessionTaps::Release. The
    // send pane's transfer keeps its pace regardless.
    virtual bool HoldsSend() const { return false; }
};

// The subscribers, owned by the main window. Opened and Ended pair up: an
// Opened while a session is open ends that one first, and an Ended with no
// session open is ignored, so callers report each place a session may end
// without tracking whether it already did.
class SessionTaps
{
public:
    void Add(SessionTap* tap);
    void Remove(SessionTap* tap);

    void Opened(const SessionInfo& session);
    // `to`: a datagram's destination, where the socket told it.
    void Received(const std::uint8_t* data, int length, const sockaddr* from, const sockaddr* to = nullptr);
    void Sent(const std::uint8_t* data, int length, const sockaddr* to);
    void Ended(const SessionEnd& end);

    bool IsOpen() const { return m_bOpen; }
    // The open session, for a tap that subscribes in the middle of it.
    const SessionInfo& Current() const { return m_current; }

    bool ReceiveHeld() const;
    bool SendHeld() const;
    // A tap that held receiving or sending can take data again.
    void Release();
    // Set by the owner: wakes the socket whose reading was held, and the
    // sender of the outgoing queue.
    std::function<void()> m_onReceiveReleased;
    std::function<void()> m_onSendReleased;

private:
    template <class Call> void Each(Call call);

    std::vector<SessionTap*> m_taps;
    int m_nDispatching = 0;
    bool m_bOpen = false;
    SessionInfo m_current;
};

// The session's description from its socket: local from getsockname, remote
// from getpeername for TCP, from `udpRemote` (may be null) for UDP.
SessionInfo DescribeSession(int handle, SessionProtocol protocol, bool server, bool telnet,
                            const sockaddr* udpRemote = nullptr, socklen_t udpRemoteLength = 0);
