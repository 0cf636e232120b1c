#include "capture/capture.h"

#include "capture/capture_writer.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "platform/system_error.h"
#include "ui/korvo_dlg.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>

CCapture::CCapture(CKorvoDlg& dlg) : m_dlg(dlg) {}

CCapture::~CCapture()
{
    // Exit while capturing: what was recorded is written; the window is
    // going, so nothing is shown.
    if (m_pWriter) {
        m_dlg.m_taps.Remove(this);
        m_pWriter->Finish();
    }
}

bool CCapture::Start(const QString& path, CaptureFormat format)
{
    if (m_pWriter)
        return false;
    m_strPath = path;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        Report(208, errno);
        return false;
    }
    // The writer's thread asks for the GUI thread through queued calls.
    const auto onGuiThread = [this](auto call) {
        return [this, call] { QMetaObject::invokeMethod(&m_context, call, Qt::QueuedConnection); };
    };
    m_pWriter =
        std::make_unique<CaptureWriter>(fd, format, onGuiThread([this] { m_dlg.m_taps.ReleaseReceive(); }),
                                        onGuiThread([this] { OnWriterFailed(); }));
    if (m_dlg.m_taps.IsOpen())
        m_pWriter->Opened(m_dlg.m_taps.Current(), TapTime::Now());
    m_dlg.m_taps.Add(this);
    ShowState();
    return true;
}

void CCapture::Stop()
{
    if (!m_pWriter)
        return;
    if (const int error = Finish())
        Report(209, error);
}

int CCapture::Finish()
{
    m_dlg.m_taps.Remove(this);
    const int error = m_pWriter->Finish();
    m_pWriter.reset();
    ShowState();
    // Reading that waited for the writer goes on.
    m_dlg.m_taps.ReleaseReceive();
    return error;
}

void CCapture::OnWriterFailed()
{
    // Stop may have come first and reported it.
    if (m_pWriter && m_pWriter->Failed())
        Report(209, Finish());
}

void CCapture::ShowState()
{
    const bool running = IsRunning();
    m_dlg.m_actCaptureStart->setEnabled(!running);
    m_dlg.m_actCaptureStop->setEnabled(running);
    m_dlg.ShowTitle();
}

void CCapture::Report(int stringId, int error)
{
    ShowMessageBox(&m_dlg, LoadStr(stringId).arg(m_strPath, SystemErrorText(error)), m_dlg.m_strTitle,
                   MB_OK | MB_ICONEXCLAMATION);
}

void CCapture::OnSessionOpened(const SessionInfo& session, const TapTime& time)
{
    m_pWriter->Opened(session, time);
}

void CCapture::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer,
                               const TapTime& time)
{
    m_pWriter->Block(true, data, length, peer, time);
}

void CCapture::OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer, const TapTime& time)
{
    m_pWriter->Block(false, data, length, peer, time);
}

void CCapture::OnSessionEnded(bool byError, const TapTime& time)
{
    m_pWriter->Ended(byError, time);
}

bool CCapture::HoldsReceive() const
{
    return m_pWriter && m_pWriter->Full();
}
