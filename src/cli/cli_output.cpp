#include "cli/cli_output.h"

#include "messages/byte_text.h"
#include "net/endpoint.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTimeZone>

#include <unistd.h>

namespace {

// Output goes out in pieces this large, or when the event loop turns.
constexpr std::size_t FLUSH_AT = 128 << 10;

QString IsoTime(std::chrono::system_clock::time_point time)
{
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(us / 1000, QTimeZone::utc());
    return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
           QStringLiteral("%1Z").arg(static_cast<int>(us % 1000000), 6, 10, QLatin1Char('0'));
}

QString Endpoint(const sockaddr_storage& address)
{
    return FormatPeerEndpoint(reinterpret_cast<const sockaddr*>(&address)).value_or(QString());
}

} // namespace

QJsonObject CliBytesJson(const QByteArray& bytes)
{
    return {{QLatin1String("length"), bytes.size()},
            {QLatin1String("hex"), FormatHexBytes(bytes)},
            {QLatin1String("text"), FormatEscapedBytes(bytes)}};
}

CliOutput::CliOutput(CliOutputMode mode, std::FILE* out, std::FILE* errors)
    : m_mode(mode), m_out(out), m_errors(errors), m_start(std::chrono::steady_clock::now()),
      m_bInteractive(isatty(fileno(out)) != 0), m_pContext(std::make_unique<QObject>())
{
    if (m_mode != CliOutputMode::Quiet)
        m_writer = std::thread([this] { WriterLoop(); });
}

CliOutput::~CliOutput()
{
    Flush();
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

void CliOutput::Write(const char* data, std::size_t length)
{
    m_buffer.append(data, static_cast<qsizetype>(length));
    Queued();
}

void CliOutput::Queued()
{
    if (m_bInteractive)
        Flush();
    else if (static_cast<std::size_t>(m_buffer.size()) >= FLUSH_AT)
        Flush(false);
}

void CliOutput::Flush(bool wait)
{
    if (!m_writer.joinable()) {
        m_buffer.clear();
        return;
    }
    std::unique_lock lock(m_mutex);
    if (!m_buffer.isEmpty()) {
        m_nQueued += static_cast<std::size_t>(m_buffer.size());
        m_queue.push_back(std::move(m_buffer));
        m_buffer = QByteArray();
        m_buffer.reserve(static_cast<qsizetype>(FLUSH_AT) * 2);
        if (m_nQueued > BEHIND_BOUND)
            m_bHeld = true;
        m_changed.notify_all();
    }
    if (wait)
        m_changed.wait(lock, [this] { return m_nQueued == 0; });
}

bool CliOutput::HoldsReceive() const
{
    return m_bHeld;
}

void CliOutput::WriterLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        const QByteArray piece = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        // A reader that went away loses the rest; the run goes on.
        std::fwrite(piece.constData(), 1, static_cast<std::size_t>(piece.size()), m_out);
        lock.lock();
        m_nQueued -= static_cast<std::size_t>(piece.size());
        if (m_nQueued == 0)
            std::fflush(m_out);
        m_changed.notify_all();
        if (m_bHeld && m_nQueued <= BEHIND_BOUND / 4 && !m_bCaughtUpPosted) {
            m_bCaughtUpPosted = true;
            QMetaObject::invokeMethod(
                m_pContext.get(), [this] { WrittenSome(); }, Qt::QueuedConnection);
        }
    }
}

void CliOutput::WrittenSome()
{
    {
        const std::lock_guard lock(m_mutex);
        m_bCaughtUpPosted = false;
        if (m_nQueued > BEHIND_BOUND / 4)
            return;
        m_bHeld = false;
    }
    if (m_onCaughtUp)
        m_onCaughtUp();
}

void CliOutput::WriteLine(const QJsonObject& object)
{
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line += '\n';
    Write(line.constData(), static_cast<std::size_t>(line.size()));
}

QJsonObject CliOutput::Stamped(const QString& name, const TapTime& time) const
{
    return {{QLatin1String("event"), name},
            {QLatin1String("time"), IsoTime(time.wall)},
            {QLatin1String("elapsed_ms"),
             std::chrono::duration<double, std::milli>(time.steady - m_start).count()}};
}

void CliOutput::OnSessionOpened(const SessionInfo& session, const TapTime& time)
{
    if (m_mode == CliOutputMode::Transcript) {
        const std::string line = m_format.Opened(session, time.wall);
        Write(line.data(), line.size());
    } else if (m_mode == CliOutputMode::Json) {
        QJsonObject event = Stamped(QStringLiteral("opened"), time);
        const bool udp = session.protocol == SessionProtocol::Udp;
        event.insert(QLatin1String("protocol"), udp ? QStringLiteral("udp") : QStringLiteral("tcp"));
        event.insert(QLatin1String("role"), udp              ? QStringLiteral("udp")
                                            : session.server ? QStringLiteral("server")
                                                             : QStringLiteral("client"));
        event.insert(QLatin1String("local"), Endpoint(session.local));
        event.insert(QLatin1String("remote"), Endpoint(session.remote));
        if (m_tlsDetails) {
            const QJsonObject tls = m_tlsDetails();
            if (!tls.isEmpty())
                event.insert(QLatin1String("tls"), tls);
        }
        WriteLine(event);
    }
}

void CliOutput::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr*,
                                const TapTime& time)
{
    Bytes(true, data, length, peer, time);
}

void CliOutput::OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer, const TapTime& time)
{
    Bytes(false, data, length, peer, time);
}

void CliOutput::Bytes(bool received, const std::uint8_t* data, int length, const sockaddr* peer,
                      const TapTime& time)
{
    if (m_mode == CliOutputMode::Transcript) {
        const qsizetype at = m_buffer.size();
        m_buffer.resize(at + static_cast<qsizetype>(TranscriptFormat::BlockRoom(length)));
        m_buffer.resize(at + static_cast<qsizetype>(m_format.Block(m_buffer.data() + at, received, time.wall,
                                                                   peer, data, length)));
        Queued();
    } else if (m_mode == CliOutputMode::Json) {
        QJsonObject event = Stamped(received ? QStringLiteral("received") : QStringLiteral("sent"), time);
        event.insert(QLatin1String("peer"), FormatPeerEndpoint(peer).value_or(QString()));
        event.insert(QLatin1String("bytes"),
                     CliBytesJson(QByteArray(reinterpret_cast<const char*>(data), length)));
        WriteLine(event);
    }
}

void CliOutput::OnSessionEnded(const SessionEnd& end, const TapTime& time)
{
    if (m_mode == CliOutputMode::Transcript) {
        const std::string line = m_format.Ended(end, time.wall);
        Write(line.data(), line.size());
    } else if (m_mode == CliOutputMode::Json) {
        QJsonObject event = Stamped(QStringLiteral("closed"), time);
        event.insert(QLatin1String("by"),
                     end.side == SessionSide::Local ? QStringLiteral("local") : QStringLiteral("remote"));
        event.insert(QLatin1String("error"), end.byError);
        WriteLine(event);
    }
}

void CliOutput::Event(const QString& name, QJsonObject fields)
{
    if (m_mode != CliOutputMode::Json)
        return;
    QJsonObject event = Stamped(name, TapTime::Now());
    for (auto it = fields.begin(); it != fields.end(); ++it)
        event.insert(it.key(), it.value());
    WriteLine(event);
}

void CliOutput::Failure(const QString& text)
{
    Flush();
    std::fprintf(m_errors, "korvo-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(m_errors);
    Event(QStringLiteral("error"), {{QLatin1String("message"), text}});
}

void CliOutput::Note(const QString& text)
{
    if (m_mode == CliOutputMode::Quiet)
        return;
    Flush();
    std::fprintf(m_errors, "korvo-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(m_errors);
}
