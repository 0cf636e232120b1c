#pragma once

// What korvo-cli writes while it runs: on stdout every block sent and
// received, in the capture transcript's lines (the default) or as one JSON
// object a line for every event (--json), or nothing (--quiet); failures
// always on stderr. A tap on the session, so it sees what the capture sees.
#include "capture/transcript_format.h"
#include "net/session_tap.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

enum class CliOutputMode { Transcript, Json, Quiet };

class CliOutput : public SessionTap
{
public:
    CliOutput(CliOutputMode mode, std::FILE* out, std::FILE* errors);
    ~CliOutput() override;
    CliOutput(const CliOutput&) = delete;
    CliOutput& operator=(const CliOutput&) = delete;

    CliOutputMode Mode() const { return m_mode; }

    void OnSessionOpened(const SessionInfo& session, const TapTime& time) override;
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
                         const TapTime& time) override;
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer, const TapTime& time) override;
    void OnSessionEnded(const SessionEnd& end, const TapTime& time) override;

    // An event of the run's own (an expect's outcome, an error, the end),
    // with "event", "time" and "elapsed_ms" added; JSON only.
    void Event(const QString& name, QJsonObject fields);
    // A failure or a warning for the user: stderr in every mode, and an
    // "error" event in JSON.
    void Failure(const QString& text);
    void Note(const QString& text);
    void Flush();

    // The TLS session's details for the "opened" event, when there is one.
    std::function<QJsonObject()> m_tlsDetails;

private:
    void Write(const char* data, std::size_t length);
    void WriteLine(const QJsonObject& object);
    QJsonObject Stamped(const QString& name, const TapTime& time) const;

    CliOutputMode m_mode;
    std::FILE* m_out;
    std::FILE* m_errors;
    TranscriptFormat m_format;
    std::string m_buffer;
    std::chrono::steady_clock::time_point m_start;
    bool m_bInteractive = false;
};

// "68 65 6C" and "hel", as the byte strings of the Messages window write them.
QJsonObject CliBytesJson(const QByteArray& bytes);
