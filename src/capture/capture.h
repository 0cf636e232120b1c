#pragma once

// CCapture: the window's capture. A CaptureRecorder on the window's session
// taps does the recording; this shell shows it: while a capture runs, the
// window's title names the file and Start gives way to Stop, and a failure
// is told in a message box, once. The session goes on.
#include "capture/capture_recorder.h"

#include <QString>

class CKorvoDlg;

class CCapture
{
public:
    explicit CCapture(CKorvoDlg& dlg);
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    bool IsRunning() const { return m_recorder.IsRunning(); }
    // Opens (or empties) the file and starts; a session under way is recorded
    // from now. False, once reported, when the file cannot be opened.
    bool Start(const QString& path, CaptureFormat format);
    // Writes what is left and closes the file.
    void Stop();

private:
    void ShowState();
    void Report(const CaptureFailure& failure);

    CKorvoDlg& m_dlg;
    CaptureRecorder m_recorder;
};
