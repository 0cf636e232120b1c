#pragma once

// CaptureRecorder: records what a session's taps report to a capture file, a
// pcap or a text transcript, from Start until Stop, across sessions. The
// file is written by a CaptureWriter on a thread of its own; while it is
// behind, the recorder holds the session's reading and its outgoing queue.
// No widgets: the window's capture and korvo-cli both build on it.
//
// Everything here runs on the thread that owns the taps, which needs an
// event loop: the writer's news reaches that thread as queued calls.
#include "capture/capture_encoder.h"
#include "capture/capture_failure.h"
#include "net/session_tap.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class CaptureWriter;

class CaptureRecorder : public SessionTap
{
public:
    // How long Stop waits for the file to take what is left.
    static constexpr std::chrono::milliseconds STOP_WAIT{2000};

    explicit CaptureRecorder(SessionTaps& taps);
    // Stops as Stop does, but tells no one.
    ~CaptureRecorder() override;
    CaptureRecorder(const CaptureRecorder&) = delete;
    CaptureRecorder& operator=(const CaptureRecorder&) = delete;

    bool IsRunning() const { return m_pWriter != nullptr; }
    // The file of the capture that runs or ran last.
    const QString& Path() const { return m_strPath; }

    // Starts recording into `path`, created or emptied; a session under way
    // is recorded from now on. False when a capture runs already, or when
    // the file could not be opened (m_onFailed has been told). Whether the
    // file opens may also be known only later: then m_onFailed hears of it
    // and the capture ends.
    bool Start(const QString& path, CaptureFormat format);
    // Writes what is left and closes the file, waiting at most `wait` for
    // it. True when everything recorded reached the file; otherwise
    // m_onFailed has been told why. The session's end is not recorded here:
    // report it to the taps first where the session ends too.
    bool Stop(std::chrono::milliseconds wait = STOP_WAIT);

    // Called on the taps' thread, at most once per capture, after the
    // capture has stopped (IsRunning() is false).
    std::function<void(const CaptureFailure&)> m_onFailed;
    // Called whenever the capture started or stopped.
    std::function<void()> m_onStateChanged;

    void OnSessionOpened(const SessionInfo& session, const TapTime& time) override;
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
                         const TapTime& time) override;
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                     const TapTime& time) override;
    void OnSessionEnded(const SessionEnd& end, const TapTime& time) override;
    bool HoldsReceive() const override;
    bool HoldsSend() const override;

private:
    // Ends the writer within `wait`; the failure, if any, is reported.
    bool Finish(std::chrono::milliseconds wait, bool report);
    void OnWriterFailed();
    void Report(CaptureFailure failure, std::chrono::milliseconds waited);

    SessionTaps& m_taps;
    QString m_strPath;
    // Calls from the writer thread come here, and are dropped with it.
    std::unique_ptr<QObject> m_pContext;
    std::unique_ptr<CaptureWriter> m_pWriter;
};

// The text of a failure, from the string tables; `waited`: how long Stop
// waited for the file.
QString CaptureFailureText(const CaptureFailure& failure,
                           std::chrono::milliseconds waited = CaptureRecorder::STOP_WAIT);
