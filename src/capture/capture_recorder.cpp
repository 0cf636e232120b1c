#include "capture/capture_recorder.h"

#include "capture/capture_writer.h"
#include "platform/strings.h"
#include "platform/system_error.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>

CaptureRecorder::CaptureRecorder(SessionTaps& taps) : m_taps(taps) {}

CaptureRecorder::~CaptureRecorder()
{
    if (m_pWriter)
        Finish(STOP_WAIT, false);
}

bool CaptureRecorder::Start(const QString& path, CaptureFormat format)
{
    if (m_pWriter)
        return false;
    m_strPath = path;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        Report({CaptureFailure::CANNOT_OPEN, path, errno, 0, {}});
        return false;
    }
    m_pContext = std::make_unique<QObject>();
    // The writer's thread asks for this thread through queued calls.
    QObject* context = m_pContext.get();
    const auto here = [context](auto call) {
        return [context, call] { QMetaObject::invokeMethod(context, call, Qt::QueuedConnection); };
    };
    m_pWriter = std::make_unique<CaptureWriter>(fd, format, here([this] { m_taps.Release(); }),
                                                here([this] { OnWriterFailed(); }));
    if (m_taps.IsOpen())
        m_pWriter->Opened(m_taps.Current(), TapTime::Now());
    m_taps.Add(this);
    if (m_onStateChanged)
        m_onStateChanged();
    return true;
}

bool CaptureRecorder::Stop(std::chrono::milliseconds wait)
{
    if (!m_pWriter)
        return true;
    return Finish(wait, true);
}

bool CaptureRecorder::Finish(std::chrono::milliseconds, bool report)
{
    m_taps.Remove(this);
    const int error = m_pWriter->Finish();
    m_pWriter.reset();
    m_pContext.reset();
    if (report && m_onStateChanged)
        m_onStateChanged();
    // Reading and sending that waited for the writer go on.
    m_taps.Release();
    if (error && report)
        Report({CaptureFailure::WRITE_FAILED, m_strPath, error, 0, {}});
    return error == 0;
}

void CaptureRecorder::OnWriterFailed()
{
    // Stop may have come first and reported it.
    if (m_pWriter && m_pWriter->Failed())
        Finish(STOP_WAIT, true);
}

void CaptureRecorder::Report(CaptureFailure failure)
{
    failure.text = CaptureFailureText(failure);
    if (m_onFailed)
        m_onFailed(failure);
}

void CaptureRecorder::OnSessionOpened(const SessionInfo& session, const TapTime& time)
{
    m_pWriter->Opened(session, time);
}

void CaptureRecorder::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer,
                                      const sockaddr*, const TapTime& time)
{
    m_pWriter->Block(true, data, length, peer, time);
}

void CaptureRecorder::OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                                  const TapTime& time)
{
    m_pWriter->Block(false, data, length, peer, time);
}

void CaptureRecorder::OnSessionEnded(const SessionEnd& end, const TapTime& time)
{
    m_pWriter->Ended(end, time);
}

bool CaptureRecorder::HoldsReceive() const
{
    return m_pWriter && m_pWriter->Full();
}

bool CaptureRecorder::HoldsSend() const
{
    return false;
}

QString CaptureFailureText(const CaptureFailure& failure)
{
    switch (failure.kind) {
    case CaptureFailure::CANNOT_OPEN:
        return LoadStr(208).arg(failure.path, SystemErrorText(failure.error));
    default:
        return LoadStr(209).arg(failure.path, SystemErrorText(failure.error));
    }
}
