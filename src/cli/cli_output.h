#pragma once

// What korvo-cli writes while it runs: on stdout every block sent and
// received, in the capture transcript's lines (the default) or as one JSON
// object a line for every event (--json), or nothing (--quiet); failures
// always on stderr. A tap on the session, so it sees what the capture sees.
//
// Lines are made on the session's thread and written on a thread of their
// own, so that a flood into a file is formatted and written at once. While
// the writer is behind, the session stops reading (HoldsReceive) until it
// has caught up.
#include "capture/transcript_format.h"
#include "net/session_tap.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr* peer,
                     const TapTime& time) override;
    void OnSessionEnded(const SessionEnd& end, const TapTime& time) override;
    bool HoldsReceive() const override;

    // An event of the run's own (an expect's outcome, an error, the end),
    // with "event", "time" and "elapsed_ms" added; JSON only.
    void Event(const QString& name, QJsonObject fields);
    // A failure or a warning for the user: stderr in every mode, and an
    // "error" event in JSON.
    void Failure(const QString& text);
    void Note(const QString& text);
    // Hands what is made to the writer; `wait`: until it is written.
    void Flush(bool wait = true);

    // The TLS session's details for the "opened" event, when there is one.
    std::function<QJsonObject()> m_tlsDetails;
    // Called on the session's thread when the writer, once behind, caught up.
    std::function<void()> m_onCaughtUp;

    // What may wait for the writer before reading stops.
    static constexpr std::size_t BEHIND_BOUND = 512u << 10;

private:
    void Write(const char* data, std::size_t length);
    // A block received or sent, as a transcript block or a JSON event.
    void Bytes(bool received, const std::uint8_t* data, int length, const sockaddr* peer,
               const TapTime& time);
    void WrittenSome();
    void WriterLoop();
    void Queued();
    void WriteLine(const QJsonObject& object);
    QJsonObject Stamped(const QString& name, const TapTime& time) const;

    CliOutputMode m_mode;
    std::FILE* m_out;
    std::FILE* m_errors;
    TranscriptFormat m_format;
    // Made and not yet handed to the writer; grown without clearing.
    QByteArray m_buffer;
    std::chrono::steady_clock::time_point m_start;
    bool m_bInteractive = false;

    // The writer: pieces waiting, how many bytes, and whether reading waits.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    std::size_t m_nQueued = 0;
    bool m_bStop = false;
    bool m_bHeld = false;
    bool m_bCaughtUpPosted = false;
    std::thread m_writer;
    // Told of the writer's progress on the session's thread.
    std::unique_ptr<QObject> m_pContext;
};

// "68 65 6C" and "hel", as the byte strings of the Messages window write them.
QJsonObject CliBytesJson(const QByteArray& bytes);
