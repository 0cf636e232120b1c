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
    const QString& Path() const { return m_recorder.Path(); }
    // Starts into the file, emptied; a session under way is recorded from
    // now. A file that cannot be opened is reported once, a moment later.
    bool Start(const QString& path, CaptureFormat format);
    // Writes what is left and closes the file, waiting a bounded time; what
    // did not reach the file is reported.
    void Stop();

private:
    void ShowState();
    void Report(const CaptureFailure& failure);

    CKorvoDlg& m_dlg;
    CaptureRecorder m_recorder;
};
