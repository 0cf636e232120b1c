#include "capture/capture.h"

#include "platform/message_box.h"
#include "ui/korvo_dlg.h"

#include <QAction>

CCapture::CCapture(CKorvoDlg& dlg) : m_dlg(dlg), m_recorder(dlg.m_taps)
{
    m_recorder.m_onStateChanged = [this] { ShowState(); };
    m_recorder.m_onFailed = [this](const CaptureFailure& failure) { Report(failure); };
}

bool CCapture::Start(const QString& path, CaptureFormat format)
{
    return m_recorder.Start(path, format);
}

void CCapture::Stop()
{
    m_recorder.Stop();
}

void CCapture::ShowState()
{
    const bool running = IsRunning();
    m_dlg.m_actCaptureStart->setEnabled(!running);
    m_dlg.m_actCaptureStop->setEnabled(running);
    m_dlg.ShowTitle();
}

void CCapture::Report(const CaptureFailure& failure)
{
    ShowMessageBox(&m_dlg, failure.text, m_dlg.m_strTitle, MB_OK | MB_ICONEXCLAMATION);
}
