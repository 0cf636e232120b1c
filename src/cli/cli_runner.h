#pragma once

// CliRunner: one korvo-cli run. It opens the session of the first step, runs
// the others one after another on it, and ends with an exit code:
//
//   0 every step passed; 1 an expectation failed or timed out (or the
//   capture could not be written); 2 usage or script error; 3 network error;
//   4 TLS handshake or verification failure; 130 interrupted.
//
// The session, the outgoing queue, saved messages, reply rules and capture
// are the core's own, as the window uses them; the runner only decides when
// a step is done. Each expect step looks at what arrived since the last one
// matched, so an answer that came during a wait is not lost.
#include "capture/capture_recorder.h"
#include "cli/cli_junit.h"
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/cli_script.h"
#include "cli/cli_session.h"
#include "messages/message_sender.h"
#include "messages/saved_message.h"
#include "net/outgoing_queue.h"
#include "net/session_tap.h"
#include "platform/tick_timer.h"
#include "replies/reply_engine.h"
#include "replies/reply_rule.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

enum CliExitCode : int {
    CLI_EXIT_PASSED = 0,
    CLI_EXIT_FAILED = 1,
    CLI_EXIT_USAGE = 2,
    CLI_EXIT_NETWORK = 3,
    CLI_EXIT_TLS = 4,
    CLI_EXIT_INTERRUPTED = 130,
};

class CliRunner : public SessionTap
{
public:
    // The most received bytes kept for a later expect step; older ones go.
    static constexpr qsizetype PENDING_MAX = 64 * 1024 * 1024;
    // What a report shows of the bytes an expect step saw.
    static constexpr qsizetype REPORT_BYTES = 4096;

    CliRunner(CliOptions options, CliScript script, std::vector<SavedMessage> messages,
              std::vector<ReplyRule> rules, std::FILE* out = stdout, std::FILE* errors = stderr);
    ~CliRunner() override;
    CliRunner(const CliRunner&) = delete;
    CliRunner& operator=(const CliRunner&) = delete;

    void Start();
    // SIGINT or SIGTERM: ends a serve step without a time, else the run.
    void Interrupt();
    std::function<void(int code)> m_onFinished;

    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr* peer, const sockaddr* to,
                         const TapTime& time) override;

private:
    struct Block
    {
        QByteArray bytes;
        std::chrono::steady_clock::time_point time;
    };

    const CliStep& Step() const { return m_script.steps[m_nStep]; }
    void RunStep();
    void StepPassed();
    // Ends the run with `code`, telling `message` (if any) as a failure.
    void Finish(int code, const QString& message = {});
    void Teardown();
    void ExpectResult(bool passed, const QString& failure);

    void OpenSession();
    void OnOpenFailed(int error);
    void OnPeerEnded(const SessionEnd& end);
    void Send();
    void SendMessage();
    void SendFile();
    void StartExpect();
    void FeedMatcher(const Block& block);
    void CheckMatches();
    void ArmFrameTimer();
    void StartExpectNothing();
    void StartExpectClose();
    void Serve();
    void OnStepTime();

    QString PeerClosedText(const SessionEnd& end) const;
    QString StepLabel() const;
    bool LaterStepExpects() const;

    CliOptions m_options;
    CliScript m_script;
    std::vector<SavedMessage> m_messages;
    std::vector<ReplyRule> m_rules;

    QObject m_context;
    SessionTaps m_taps;
    OutgoingQueue m_queue;
    CliOutput m_output;
    CliSession m_session;
    MessageSender m_sender;
    std::unique_ptr<CReplyEngine> m_pEngine;
    std::unique_ptr<CaptureRecorder> m_pCapture;

    std::size_t m_nStep = 0;
    bool m_bStepDone = false;
    bool m_bFinishing = false;
    int m_nExit = CLI_EXIT_PASSED;
    std::chrono::steady_clock::time_point m_stepStart;
    QTimer m_stepTimer;
    QTimer m_runTimer;
    QTimer m_flushTimer;

    // The peer has closed or reset the connection.
    bool m_bPeerClosed = false;
    SessionEnd m_peerEnd;

    // Received bytes not yet matched by an expect step, and the stream
    // offset (in the running matcher's count) of the first of them.
    bool m_bBuffering = false;
    std::deque<Block> m_pending;
    qsizetype m_nPendingBytes = 0;
    std::int64_t m_nPendingBase = 0;
    std::unique_ptr<ReplyMatcher> m_pMatcher;
    std::vector<ReplyMatcher::Match> m_found;
    CTickTimer m_frameTimer{[this] { OnFrameQuiet(); }};
    void OnFrameQuiet();
    QByteArray m_seen;
    bool m_bExpectingNothing = false;
    bool m_bExpectingClose = false;

    // A message step waits for this many sends of its message.
    std::uint64_t m_nMessageId = 0;
    int m_nMessageSent = 0;
    int m_nMessageNeeded = 0;

    std::vector<CliJunitCase> m_cases;
    std::vector<int> m_caseOf;
};
