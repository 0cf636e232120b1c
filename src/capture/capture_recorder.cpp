#include "capture/capture_recorder.h"

#include "capture/capture_writer.h"
#include "platform/strings.h"
#include "platform/system_error.h"

#include <QFile>

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
    m_pContext = std::make_unique<QObject>();
    // The writer's thread asks for this thread through queued calls, which
    // go with the context.
    QObject* context = m_pContext.get();
    const auto here = [context](auto call) {
        return [context, call] { QMetaObject::invokeMethod(context, call, Qt::QueuedConnection); };
    };
    // Opened on the writer's thread: a FIFO without a reader or a hung mount
    // must not stop this one.
    m_pWriter = std::make_unique<CaptureWriter>(QFile::encodeName(path).toStdString(), format,
                                                here([this] { m_taps.Release(); }),
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

bool CaptureRecorder::Finish(std::chrono::milliseconds wait, bool report)
{
    m_taps.Remove(this);
    const CaptureWriter::Outcome outcome = m_pWriter->Finish(wait);
    m_pWriter.reset();
    m_pContext.reset();
    if (report && m_onStateChanged)
        m_onStateChanged();
    // Reading and sending that waited for the writer go on.
    m_taps.Release();
    if (!outcome.ok && report)
        Report({outcome.kind, m_strPath, outcome.error, outcome.unwritten, {}}, wait);
    return outcome.ok;
}

void CaptureRecorder::OnWriterFailed()
{
    // Stop may have come first and reported it.
    if (m_pWriter && m_pWriter->Failed())
        Finish(STOP_WAIT, true);
}

void CaptureRecorder::Report(CaptureFailure failure, std::chrono::milliseconds waited)
{
    failure.text = CaptureFailureText(failure, waited);
    if (m_onFailed)
        m_onFailed(failure);
}

void CaptureRecorder::OnSessionOpened(const SessionInfo& session, const TapTime& time)
{
    m_pWriter->Opened(session, time);
}

void CaptureRecorder::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer,
                                      const sockaddr* to, const TapTime& time)
{
    m_pWriter->Block(true, data, length, peer, to, time);
}

void CaptureRecorder::OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                                  const TapTime& time)
{
    m_pWriter->Block(false, data, length, peer, nullptr, time);
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
    return m_pWriter && m_pWriter->Full();
}

QString CaptureFailureText(const CaptureFailure& failure, std::chrono::milliseconds waited)
{
    switch (failure.kind) {
    case CaptureFailure::CANNOT_OPEN:
        return LoadStr(208).arg(failure.path, SystemErrorText(failure.error));
    case CaptureFailure::WRITE_FAILED:
        break;
    case CaptureFailure::FELL_BEHIND:
        return LoadStr(332).arg(failure.path).arg(CaptureWriter::HARD_BOUND >> 20);
    case CaptureFailure::DELETED:
        return LoadStr(331).arg(failure.path);
    case CaptureFailure::NOT_FINISHED:
        return LoadStr(330).arg(failure.path).arg(waited.count() / 1000.0).arg(failure.unwritten);
    }
    return LoadStr(209).arg(failure.path, SystemErrorText(failure.error));
}
