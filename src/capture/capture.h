#pragma once

// CCapture: records the live session to a file, a pcap or a text transcript,
// from Start until Stop, across sessions. It listens on the window's session
// taps; the file is written by a CaptureWriter on its own thread. While a
// capture runs, the window's title names the file and Start gives way to
// Stop. A file that cannot be opened or written is reported once; the
// session goes on.
#include "capture/capture_encoder.h"
#include "net/session_tap.h"

#include <QObject>
#include <QString>

#include <memory>

class CKorvoDlg;
class CaptureWriter;

class CCapture : public SessionTap
{
public:
    explicit CCapture(CKorvoDlg& dlg);
    ~CCapture() override;
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    bool IsRunning() const { return m_pWriter != nullptr; }
    const QString& Path() const { return m_strPath; }
    // Opens (or empties) the file and starts; a session under way is recorded
    // from now. False, once reported, when the file cannot be opened.
    bool Start(const QString& path, CaptureFormat format);
    // Writes what is left and closes the file.
    void Stop();

    void OnSessionOpened(const SessionInfo& session, const TapTime& time) override;
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer,
                         const TapTime& time) override;
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                     const TapTime& time) override;
    void OnSessionEnded(bool byError, const TapTime& time) override;
    bool HoldsReceive() const override;

private:
    // Ends the writer; 0 or the errno value of the file's first failure.
    int Finish();
    void OnWriterFailed();
    void ShowState();
    void Report(int stringId, int error);

    CKorvoDlg& m_dlg;
    QString m_strPath;
    // Calls from the writer thread come here, and are dropped with it.
    QObject m_context;
    std::unique_ptr<CaptureWriter> m_pWriter;
};
