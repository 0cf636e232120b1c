#include "cli/cli_runner.h"

#include "messages/byte_text.h"
#include "net/endpoint.h"
#include "platform/system_error.h"
#include "tls/tls_context.h"
#include "tls/tls_error.h"
#include "tls/tls_stream.h"

#include <QFileInfo>

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

QString WhenWord(ReplyWhen when)
{
    switch (when) {
    case ReplyWhen::StartsWith:
        return QStringLiteral("starts");
    case ReplyWhen::Equals:
        return QStringLiteral("equals");
    case ReplyWhen::EndsWith:
        return QStringLiteral("ends");
    case ReplyWhen::Contains:
        break;
    }
    return QStringLiteral("contains");
}

// What came, in the form the step wrote what it wanted, so the two compare.
QString Shown(const QByteArray& bytes, ByteForm form)
{
    const QString shown = form == ByteForm::Hex ? FormatHexBytes(bytes, CliRunner::REPORT_BYTES)
                                                : FormatEscapedBytes(bytes, CliRunner::REPORT_BYTES);
    return QLatin1Char('\'') + shown + QLatin1Char('\'');
}

QJsonObject CertificateJson(const CertificateInfo& c)
{
    return {{QLatin1String("subject"), c.subject},
            {QLatin1String("issuer"), c.issuer},
            {QLatin1String("not_before"), c.notBefore},
            {QLatin1String("not_after"), c.notAfter},
            {QLatin1String("sha256"), c.sha256}};
}

bool IsExpectStep(CliStepKind kind)
{
    return kind == CliStepKind::Expect || kind == CliStepKind::ExpectNothing ||
           kind == CliStepKind::ExpectClose;
}

} // namespace

CliRunner::CliRunner(CliOptions options, CliScript script, std::vector<SavedMessage> messages,
                     std::vector<ReplyRule> rules, std::FILE* out, std::FILE* errors)
    : m_options(std::move(options)), m_script(std::move(script)), m_messages(std::move(messages)),
      m_rules(std::move(rules)), m_output(m_options.output, out, errors), m_session(m_taps, m_queue),
      m_sender(m_queue)
{
    m_taps.Add(&m_output);
    m_taps.Add(this);
    m_output.m_onCaughtUp = [this] { m_taps.Release(); };
    m_output.m_tlsDetails = [this]() -> QJsonObject {
        const TlsSessionDetails* tls = m_session.TlsDetails();
        if (!tls)
            return {};
        QJsonObject object{{QLatin1String("version"), tls->version}, {QLatin1String("cipher"), tls->cipher}};
        if (tls->peer)
            object.insert(QLatin1String("peer"), CertificateJson(*tls->peer));
        return object;
    };

    const bool serves = std::any_of(m_script.steps.begin(), m_script.steps.end(),
                                    [](const CliStep& s) { return s.kind == CliStepKind::Serve; });
    if (serves) {
        m_pEngine = std::make_unique<CReplyEngine>(
            m_taps, m_queue,
            ReplyRuleRows{[this] { return static_cast<int>(m_rules.size()); },
                          [this](int row) -> ReplyRule& { return m_rules[static_cast<std::size_t>(row)]; }});
        m_pEngine->SetGap(m_options.gapMs);
        m_pEngine->m_onPaused = [this](int row) {
            m_output.Note(QStringLiteral("the rule '%1' was paused: it answered as a runaway loop would")
                              .arg(m_rules[static_cast<std::size_t>(row)].name));
        };
        m_pEngine->m_onTooLong = [this](int row) {
            m_output.Note(QStringLiteral("the rule '%1' was paused: its reply does not fit in one datagram")
                              .arg(m_rules[static_cast<std::size_t>(row)].name));
        };
    }

    m_caseOf.assign(m_script.steps.size(), -1);
    for (std::size_t i = 0; i < m_script.steps.size(); ++i) {
        const CliStep& s = m_script.steps[i];
        if (!IsExpectStep(s.kind))
            continue;
        m_caseOf[i] = static_cast<int>(m_cases.size());
        CliJunitCase c;
        c.name = s.place.line > 0 ? QStringLiteral("line %1: %2").arg(s.place.line).arg(s.text)
                                  : QStringLiteral("step %1: %2").arg(i + 1).arg(s.text);
        c.skipped = true;
        m_cases.push_back(c);
    }

    m_session.m_onOpened = [this] {
        m_bPeerClosed = false;
        if (!m_bFinishing && !m_bStepDone && Step().IsSession())
            StepPassed();
    };
    m_session.m_onOpenFailed = [this](int error) { OnOpenFailed(error); };
    m_session.m_onEnded = [this](const SessionEnd& end) { OnPeerEnded(end); };
    m_session.m_onSendFailed = [this](int error) {
        Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: %2").arg(StepLabel(), SystemErrorText(error)));
    };
    m_session.m_onFileDone = [this](int error) {
        if (m_bFinishing || m_bStepDone || Step().kind != CliStepKind::SendFile)
            return;
        if (error != 0)
            Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: %2").arg(StepLabel(), SystemErrorText(error)));
        else
            StepPassed();
    };
    m_sender.m_onSent = [this](MessageSender::Id id) {
        if (m_bFinishing || m_bStepDone || Step().kind != CliStepKind::Message || id != m_nMessageId)
            return;
        if (++m_nMessageSent >= m_nMessageNeeded)
            StepPassed();
    };
    m_sender.m_onEnded = [this] {
        if (m_bFinishing || m_bStepDone || Step().kind != CliStepKind::Message)
            return;
        if (!m_sender.IsRunning(m_nMessageId) && m_nMessageSent < m_nMessageNeeded)
            Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: the message did not go out").arg(StepLabel()));
    };

    m_stepTimer.setSingleShot(true);
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_stepTimer, &QTimer::timeout, &m_context, [this] { OnStepTime(); });
    m_runTimer.setSingleShot(true);
    QObject::connect(&m_runTimer, &QTimer::timeout, &m_context, [this] {
        Finish(CLI_EXIT_FAILED, QStringLiteral("the run took longer than --timeout %1 ms, in %2")
                                    .arg(m_options.timeoutMs)
                                    .arg(StepLabel()));
    });
    // Output sent to a pipe or a file goes out at least this often.
    m_flushTimer.setInterval(200);
    QObject::connect(&m_flushTimer, &QTimer::timeout, &m_context, [this] { m_output.Flush(false); });
}

CliRunner::~CliRunner()
{
    m_pEngine.reset();
    m_pCapture.reset();
    m_taps.Remove(this);
    m_taps.Remove(&m_output);
}

void CliRunner::Start()
{
    if (m_options.timeoutMs > 0)
        m_runTimer.start(m_options.timeoutMs);
    if (m_options.output != CliOutputMode::Quiet) {
        m_flushTimer.start();
        m_session.SetReadSize(CliSession::SHOWN_READ_SIZE);
    }
    if (!m_options.captureFile.isEmpty()) {
        m_pCapture = std::make_unique<CaptureRecorder>(m_taps);
        // Told at once when the file cannot be opened, or later when it
        // cannot be written: the run then fails, with its file closed whole.
        m_pCapture->m_onFailed = [this](const CaptureFailure& f) {
            const QString text = CaptureFailureText(f);
            if (!m_bFinishing) {
                Finish(CLI_EXIT_FAILED, text);
                return;
            }
            m_output.Failure(text);
            if (m_nExit == CLI_EXIT_PASSED)
                m_nExit = CLI_EXIT_FAILED;
        };
        if (!m_pCapture->Start(m_options.captureFile, CaptureFormatFor(m_options.captureFile, 1)))
            return;
    }
    m_nStep = 0;
    RunStep();
}

QString CliRunner::StepLabel() const
{
    if (m_nStep >= m_script.steps.size())
        return QStringLiteral("the end of the run");
    const CliStep& s = Step();
    if (s.place.line > 0)
        return QStringLiteral("line %1 (%2)").arg(s.place.line).arg(s.text);
    return QStringLiteral("step %1 (%2)").arg(m_nStep + 1).arg(s.text);
}

bool CliRunner::LaterStepExpects() const
{
    for (std::size_t i = m_nStep + 1; i < m_script.steps.size(); ++i) {
        if (m_script.steps[i].kind == CliStepKind::Expect)
            return true;
    }
    return false;
}

void CliRunner::RunStep()
{
    if (m_bFinishing)
        return;
    if (m_nStep >= m_script.steps.size()) {
        Finish(CLI_EXIT_PASSED);
        return;
    }
    m_bStepDone = false;
    m_stepStart = Clock::now();
    m_bBuffering = Step().kind == CliStepKind::Expect || LaterStepExpects();
    if (!m_bBuffering) {
        m_pending.clear();
        m_nPendingBytes = 0;
    }
    switch (Step().kind) {
    case CliStepKind::Connect:
    case CliStepKind::Listen:
    case CliStepKind::Udp:
        OpenSession();
        break;
    case CliStepKind::Send:
        Send();
        break;
    case CliStepKind::SendFile:
        SendFile();
        break;
    case CliStepKind::Message:
        SendMessage();
        break;
    case CliStepKind::Expect:
        StartExpect();
        break;
    case CliStepKind::ExpectNothing:
        StartExpectNothing();
        break;
    case CliStepKind::ExpectClose:
        StartExpectClose();
        break;
    case CliStepKind::Wait:
        m_stepTimer.start(Step().ms);
        break;
    case CliStepKind::Serve:
        Serve();
        break;
    }
}

void CliRunner::StepPassed()
{
    if (m_bStepDone || m_bFinishing)
        return;
    m_bStepDone = true;
    m_stepTimer.stop();
    m_frameTimer.Stop();
    m_pMatcher.reset();
    m_bExpectingNothing = false;
    m_bExpectingClose = false;
    if (m_pEngine && Step().kind == CliStepKind::Serve)
        m_pEngine->SetActive(false);
    // The next step starts on the next turn of the event loop, never inside
    // a socket's or a tap's call.
    QTimer::singleShot(0, &m_context, [this] {
        ++m_nStep;
        RunStep();
    });
}

void CliRunner::ExpectResult(bool passed, const QString& failure)
{
    const CliStep& s = Step();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - m_stepStart).count();
    if (const int index = m_caseOf[m_nStep]; index >= 0) {
        CliJunitCase& c = m_cases[static_cast<std::size_t>(index)];
        c.skipped = false;
        c.seconds = ms / 1000;
        c.failure = passed ? QString() : failure;
    }
    QJsonObject event{{QLatin1String("step"), static_cast<int>(m_nStep + 1)},
                      {QLatin1String("text"), s.text},
                      {QLatin1String("passed"), passed},
                      {QLatin1String("took_ms"), ms},
                      {QLatin1String("within_ms"), s.ms},
                      {QLatin1String("got"), CliBytesJson(m_seen.left(REPORT_BYTES))}};
    if (s.place.line > 0)
        event.insert(QLatin1String("line"), s.place.line);
    if (s.kind == CliStepKind::Expect) {
        event.insert(QLatin1String("when"), WhenWord(s.when));
        event.insert(QLatin1String("wanted"), CliBytesJson(s.bytes.Literal()));
    }
    m_output.Event(QStringLiteral("expect"), event);
    if (passed)
        StepPassed();
    else
        Finish(CLI_EXIT_FAILED, failure);
}

void CliRunner::Finish(int code, const QString& message)
{
    if (m_bFinishing)
        return;
    m_bFinishing = true;
    m_nExit = code;
    if (!message.isEmpty())
        m_output.Failure(message);
    // A failed expect step that did not report itself (the peer closed,
    // the run's time ran out) counts as failed in the report.
    if (code != CLI_EXIT_PASSED && m_nStep < m_caseOf.size() && m_caseOf[m_nStep] >= 0 && !m_bStepDone) {
        CliJunitCase& c = m_cases[static_cast<std::size_t>(m_caseOf[m_nStep])];
        if (c.skipped) {
            c.skipped = false;
            c.seconds = std::chrono::duration<double>(Clock::now() - m_stepStart).count();
            c.failure = message;
        }
    }
    QTimer::singleShot(0, &m_context, [this] { Teardown(); });
}

void CliRunner::Teardown()
{
    m_stepTimer.stop();
    m_runTimer.stop();
    m_flushTimer.stop();
    m_frameTimer.Stop();
    m_sender.StopAll();
    if (m_pEngine)
        m_pEngine->SetActive(false);
    // The end is recorded before the capture closes, so its file is whole.
    m_session.Close();
    if (m_pCapture)
        m_pCapture->Stop();
    if (!m_options.junitFile.isEmpty()) {
        QString error;
        if (!WriteCliJunit(m_options.junitFile, QStringLiteral("korvo-cli"), m_cases, &error)) {
            m_output.Failure(QStringLiteral("the JUnit report %1 could not be written: %2")
                                 .arg(m_options.junitFile, error));
            if (m_nExit == CLI_EXIT_PASSED)
                m_nExit = CLI_EXIT_FAILED;
        }
    }
    m_output.Event(QStringLiteral("ended"), {{QLatin1String("exit"), m_nExit}});
    m_output.Flush();
    if (m_onFinished)
        m_onFinished(m_nExit);
}

void CliRunner::Interrupt()
{
    if (m_bFinishing)
        return;
    if (m_nStep < m_script.steps.size() && Step().kind == CliStepKind::Serve && Step().ms < 0 &&
        !m_bStepDone) {
        // Serving until told to stop is this step's way to end.
        StepPassed();
        return;
    }
    Finish(CLI_EXIT_INTERRUPTED, QStringLiteral("interrupted in %1").arg(StepLabel()));
}

void CliRunner::OnStepTime()
{
    if (m_bFinishing || m_bStepDone)
        return;
    const CliStep& s = Step();
    switch (s.kind) {
    case CliStepKind::Connect:
        Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: no connection within %2 ms").arg(StepLabel()).arg(s.ms));
        break;
    case CliStepKind::Listen:
        Finish(CLI_EXIT_NETWORK,
               QStringLiteral("%1: no peer connected within %2 ms").arg(StepLabel()).arg(s.ms));
        break;
    case CliStepKind::Expect:
        ExpectResult(false, QStringLiteral("%1: not received within %2 ms; %3 bytes came: %4")
                                .arg(StepLabel())
                                .arg(s.ms)
                                .arg(m_seen.size())
                                .arg(Shown(m_seen, Step().form)));
        break;
    case CliStepKind::ExpectNothing:
        ExpectResult(true, {});
        break;
    case CliStepKind::ExpectClose:
        ExpectResult(false,
                     QStringLiteral("%1: the peer did not close within %2 ms").arg(StepLabel()).arg(s.ms));
        break;
    default:
        StepPassed();
        break;
    }
}

// Sessions ------------------------------------------------------------------

void CliRunner::OpenSession()
{
    const CliStep& s = Step();
    CliSessionRequest request;
    request.keepAlive = m_options.keepAlive;
    request.ipv6 = m_options.ipv6;
    if (s.kind == CliStepKind::Connect) {
        request.mode = CliSessionMode::TcpClient;
        request.host = TrimRemoteAddress(s.host);
        request.remotePort = s.port;
    } else if (s.kind == CliStepKind::Listen) {
        request.mode = CliSessionMode::TcpServer;
        request.localPort = s.port;
    } else {
        request.mode = CliSessionMode::Udp;
        request.localPort = s.port;
        request.host = TrimRemoteAddress(s.host);
        request.remotePort = s.remotePort;
        request.multicastGroup = m_options.multicastGroup;
    }
    if (m_options.tls) {
        TlsSettings settings = m_options.tlsSettings;
        const bool server = request.mode == CliSessionMode::TcpServer;
        if (server) {
            settings.selfSigned = m_options.tlsSelfSigned;
            settings.certFile = m_options.tlsCert;
            settings.keyFile = m_options.tlsKey;
        } else {
            settings.clientCertFile = m_options.tlsCert;
            settings.clientKeyFile = m_options.tlsKey;
        }
        QString error;
        request.tls = TlsContext::Create(settings, server ? TlsRole::Server : TlsRole::Client, &error);
        if (!request.tls) {
            Finish(CLI_EXIT_USAGE, QStringLiteral("TLS: %1").arg(error));
            return;
        }
        if (server && request.tls->OwnCertificate())
            m_output.Note(
                QStringLiteral("TLS certificate %1, SHA-256 %2")
                    .arg(request.tls->OwnCertificate()->subject, request.tls->OwnCertificate()->sha256));
    }
    if (const int code = m_session.Open(request); code != 0) {
        Finish(CLI_EXIT_NETWORK,
               QStringLiteral("%1: %2").arg(StepLabel(), code == -1 ? QString::fromLatin1(UNKNOWN_FAMILY_TEXT)
                                                                    : SystemErrorText(code)));
        return;
    }
    if (m_session.IsConnected()) {
        StepPassed();
        return;
    }
    m_stepTimer.start(s.ms);
}

void CliRunner::OnOpenFailed(int error)
{
    if (m_bFinishing)
        return;
    const bool tls = IsTlsError(error);
    const QString text = tls ? TlsFailureText(error) : SystemErrorText(error);
    // A device simulator keeps serving when one client fails its handshake.
    if (!m_bStepDone && Step().kind == CliStepKind::Serve) {
        m_output.Note(QStringLiteral("a peer could not connect: %1").arg(text));
        return;
    }
    Finish(tls ? CLI_EXIT_TLS : CLI_EXIT_NETWORK, QStringLiteral("%1: %2").arg(StepLabel(), text));
}

QString CliRunner::PeerClosedText(const SessionEnd& end) const
{
    if (end.byError)
        return QStringLiteral("%1: %2").arg(StepLabel(), SystemErrorText(end.error));
    return QStringLiteral("%1: the peer closed the connection").arg(StepLabel());
}

void CliRunner::OnPeerEnded(const SessionEnd& end)
{
    m_bPeerClosed = true;
    m_peerEnd = end;
    if (m_bFinishing || m_bStepDone)
        return;
    switch (Step().kind) {
    case CliStepKind::Expect:
        // The end of the stream ends the last frame.
        if (m_pMatcher) {
            m_pMatcher->EndFrame(m_found);
            CheckMatches();
        }
        if (!m_bStepDone && !m_bFinishing)
            Finish(
                CLI_EXIT_NETWORK,
                PeerClosedText(end) +
                    QStringLiteral("; %1 bytes came: %2").arg(m_seen.size()).arg(Shown(m_seen, Step().form)));
        break;
    case CliStepKind::ExpectClose:
        if (end.byError)
            Finish(CLI_EXIT_NETWORK, PeerClosedText(end));
        else
            ExpectResult(true, {});
        break;
    case CliStepKind::ExpectNothing:
    case CliStepKind::Wait:
        // Time is all these wait for; the next step decides.
        break;
    case CliStepKind::Serve:
        // A server takes its next peer.
        if (m_session.Mode() != CliSessionMode::TcpServer)
            Finish(CLI_EXIT_NETWORK, PeerClosedText(end));
        break;
    default:
        Finish(CLI_EXIT_NETWORK, PeerClosedText(end));
        break;
    }
}

// Sending -------------------------------------------------------------------

void CliRunner::Send()
{
    if (m_bPeerClosed) {
        Finish(CLI_EXIT_NETWORK, PeerClosedText(m_peerEnd));
        return;
    }
    if (!m_session.HasDestination()) {
        Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: no destination; give udp LOCAL_PORT HOST PORT, or let a "
                                                "datagram come first")
                                     .arg(StepLabel()));
        return;
    }
    // Each step counts its own sends: its counters start at 0.
    m_queue.Enqueue(Step().bytes.Render(0), Clock::now(), [this](OutgoingQueue::Outcome outcome, int error) {
        if (m_bFinishing || m_bStepDone)
            return;
        if (outcome == OutgoingQueue::Outcome::Sent)
            StepPassed();
        else if (error != 0)
            Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: %2").arg(StepLabel(), SystemErrorText(error)));
        else
            Finish(CLI_EXIT_NETWORK,
                   QStringLiteral("%1: the session ended before the bytes went").arg(StepLabel()));
    });
}

void CliRunner::SendMessage()
{
    if (m_bPeerClosed) {
        Finish(CLI_EXIT_NETWORK, PeerClosedText(m_peerEnd));
        return;
    }
    if (!m_session.HasDestination()) {
        Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: no destination").arg(StepLabel()));
        return;
    }
    const auto it = std::find_if(m_messages.begin(), m_messages.end(),
                                 [this](const SavedMessage& m) { return m.name == Step().argument; });
    // The script was checked against the list before the run.
    if (it == m_messages.end()) {
        Finish(CLI_EXIT_USAGE, QStringLiteral("%1: no such message").arg(StepLabel()));
        return;
    }
    m_nMessageId = it->id;
    m_nMessageSent = 0;
    m_nMessageNeeded = it->repeatMs > 0 ? it->count : 1;
    m_sender.Start(it->id, it->data, std::chrono::milliseconds(it->repeatMs), it->count);
    // Repeated until stopped: it goes on beside the steps that follow.
    if (m_nMessageNeeded == 0)
        StepPassed();
}

void CliRunner::SendFile()
{
    if (m_bPeerClosed) {
        Finish(CLI_EXIT_NETWORK, PeerClosedText(m_peerEnd));
        return;
    }
    if (!m_session.HasDestination()) {
        Finish(CLI_EXIT_NETWORK, QStringLiteral("%1: no destination").arg(StepLabel()));
        return;
    }
    if (const int error = m_session.SendFile(Step().argument, m_options.fast); error != 0)
        Finish(CLI_EXIT_USAGE, QStringLiteral("%1: %2").arg(StepLabel(), SystemErrorText(error)));
}

void CliRunner::Serve()
{
    if (m_bPeerClosed && m_session.Mode() != CliSessionMode::TcpServer) {
        Finish(CLI_EXIT_NETWORK, PeerClosedText(m_peerEnd));
        return;
    }
    if (m_pEngine)
        m_pEngine->SetActive(true);
    if (Step().ms >= 0)
        m_stepTimer.start(Step().ms);
}

// Expecting -----------------------------------------------------------------

void CliRunner::OnBytesReceived(const std::uint8_t* data, int length, const sockaddr*, const sockaddr*,
                                const TapTime& time)
{
    if (m_bFinishing)
        return;
    if (m_bExpectingNothing && !m_bStepDone) {
        m_seen.append(reinterpret_cast<const char*>(data), length);
        ExpectResult(false, QStringLiteral("%1: %2 bytes came: %3")
                                .arg(StepLabel())
                                .arg(length)
                                .arg(Shown(m_seen, Step().form)));
        return;
    }
    if (!m_bBuffering)
        return;
    m_pending.push_back({QByteArray(reinterpret_cast<const char*>(data), length), time.steady});
    m_nPendingBytes += length;
    if (m_pMatcher && !m_bStepDone) {
        FeedMatcher(m_pending.back());
        CheckMatches();
    }
    // A flood that no step looks at yet keeps only its latest bytes.
    while (m_nPendingBytes > PENDING_MAX && m_pending.size() > 1) {
        m_nPendingBytes -= m_pending.front().bytes.size();
        m_nPendingBase += m_pending.front().bytes.size();
        m_pending.pop_front();
    }
}

void CliRunner::StartExpect()
{
    const CliStep& s = Step();
    m_seen.clear();
    m_found.clear();
    m_pMatcher = std::make_unique<ReplyMatcher>(
        std::vector<ReplyPattern>{{s.when, {s.bytes.Literal().begin(), s.bytes.Literal().end()}}},
        std::chrono::milliseconds(m_options.gapMs));
    m_nPendingBase = 0;
    for (const Block& block : m_pending) {
        FeedMatcher(block);
        if (!m_found.empty())
            break;
    }
    CheckMatches();
    if (m_bStepDone || m_bFinishing)
        return;
    if (m_bPeerClosed) {
        OnPeerEnded(m_peerEnd);
        return;
    }
    m_stepTimer.start(s.ms);
}

void CliRunner::FeedMatcher(const Block& block)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(block.bytes.constData());
    m_pMatcher->Feed(data, static_cast<std::size_t>(block.bytes.size()), block.time, m_found);
    if (m_seen.size() < REPORT_BYTES)
        m_seen.append(block.bytes.left(REPORT_BYTES - m_seen.size()));
    // Over UDP each datagram is a frame of its own.
    if (m_session.Mode() == CliSessionMode::Udp)
        m_pMatcher->EndFrame(m_found);
}

void CliRunner::CheckMatches()
{
    if (!m_pMatcher || m_bStepDone || m_bFinishing)
        return;
    if (m_found.empty()) {
        ArmFrameTimer();
        return;
    }
    // What the match took is used up; what came after it waits for the next
    // expect step.
    const std::int64_t end = m_found.front().end;
    m_found.clear();
    while (!m_pending.empty() && m_nPendingBase + m_pending.front().bytes.size() <= end) {
        m_nPendingBase += m_pending.front().bytes.size();
        m_nPendingBytes -= m_pending.front().bytes.size();
        m_pending.pop_front();
    }
    if (!m_pending.empty() && m_nPendingBase < end) {
        const qsizetype used = static_cast<qsizetype>(end - m_nPendingBase);
        m_pending.front().bytes.remove(0, used);
        m_nPendingBytes -= used;
        m_nPendingBase = end;
    }
    ExpectResult(true, {});
}

void CliRunner::ArmFrameTimer()
{
    if (const auto deadline = m_pMatcher->FrameDeadline())
        m_frameTimer.StartAt(*deadline);
    else
        m_frameTimer.Stop();
}

void CliRunner::OnFrameQuiet()
{
    if (!m_pMatcher || m_bStepDone || m_bFinishing)
        return;
    m_pMatcher->Quiet(Clock::now(), m_found);
    CheckMatches();
}

void CliRunner::StartExpectNothing()
{
    m_seen.clear();
    // What came before this step is not its business.
    m_pending.clear();
    m_nPendingBytes = 0;
    m_bExpectingNothing = true;
    m_stepTimer.start(Step().ms);
}

void CliRunner::StartExpectClose()
{
    m_seen.clear();
    if (m_bPeerClosed) {
        OnPeerEnded(m_peerEnd);
        return;
    }
    m_bExpectingClose = true;
    m_stepTimer.start(Step().ms);
}
