// Arbitrary streams, split into reads at arbitrary points and mixed with
// typed characters, session starts and closes, against the engine and the
// terminal's text. After every step: the parser's state and lengths stay in
// range, answers to the peer are whole commands, the text stays bounded, and
// its counted rows are what laying the text out afresh gives.
#include "support/fuzz_target.h"

#include "telnet/telnet_engine.h"
#include "telnet/terminal_text.h"

#include <QByteArray>

#include <cstdio>

namespace {

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    unsigned Next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // Up to `n` bytes of input, as one read.
    const uint8_t* Take(size_t* n)
    {
        const uint8_t* at = m_data + m_pos;
        *n = std::min(*n, m_size - m_pos);
        m_pos += *n;
        return at;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct Terminal : TelnetDisplay, TelnetSink
{
    void InsertText(const char* text, int length) override { screen.Append(text, length); }
    void EraseBeforeCaret() override { screen.EraseLast(); }
    void EraseCellBeforeCaret() override { screen.BackCell(); }
    int LineCount() const override { return screen.Rows(); }
    void TrimHead(int count) override { screen.TrimHead(count); }
    void SetReadOnly() override {}
    void Beep() override {}
    void Send(const void* data, int length) override
    {
        lastSend.assign(static_cast<const char*>(data), static_cast<size_t>(length));
        ++sends;
    }

    TerminalText screen;
    std::string lastSend;
    int sends = 0;
};

int Fail(const char* what, int step)
{
    std::fprintf(stderr, "fuzz_telnet_engine: %s after step %d\n", what, step);
    return 1;
}

// Answers to received bytes: a three-byte option reply or the terminal type.
bool IsAnswer(const std::string& s)
{
    const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    if (s.size() == 3)
        return b(0) == TELNET_IAC && b(1) >= TELNET_WILL && b(1) <= TELNET_DONT;
    return s.size() == 11 && b(0) == TELNET_IAC && b(1) == TELNET_SB && s.substr(4, 4) == "DUMP";
}

bool SameAsLaidOutAfresh(const TerminalText& screen)
{
    TerminalText fresh;
    fresh.SetColumns(screen.Columns());
    const QByteArray utf8 = screen.Text().toUtf8();
    fresh.Append(utf8.constData(), static_cast<int>(utf8.size()));
    return fresh.Text() == screen.Text() && fresh.Rows() == screen.Rows() &&
           fresh.CaretColumn() == screen.CaretColumn() + (screen.CaretInsideWide() ? 1 : 0);
}

} // namespace

static int FuzzTelnetEngine(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    Terminal t;
    t.screen.SetColumns(1 + static_cast<int>(in.Next() % 90));
    TelnetEngine engine(t, t);
    engine.m_nRxNewline = static_cast<RxNewline>(in.Next() % 3);
    engine.m_nTxNewline = static_cast<TxNewline>(in.Next() % 3);
    engine.BeginSession(in.Next() & 1 ? TELNET_PORT : 1470);
    // Text typed or announced locally is not trimmed; the rest must be.
    long localText = 0;

    for (int step = 0; in.More() && step < 200; ++step) {
        const unsigned op = in.Next();
        const int sendsBefore = t.sends;
        bool received = false;
        switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3: {
            size_t n = (op >> 3) * 41 + in.Next() % 41; // 0 to 1,311 bytes
            const uint8_t* read = in.Take(&n);
            engine.Process(read, static_cast<int>(n));
            received = true;
            break;
        }
        case 4: {
            static const char32_t keys[] = {13, 8, 9, 27, 3, 'a', U'\u00e9', U'\uD55C', U'\U0001F600', 10};
            engine.OnChar(keys[in.Next() % 10]);
            localText += 2;
            break;
        }
        case 5:
            engine.m_bLineMode = !engine.m_bLineMode;
            break;
        case 6:
            engine.m_nRxNewline = static_cast<RxNewline>(in.Next() % 3);
            break;
        default:
            if (op & 0x80) {
                engine.OnConnectionClosed();
                localText += 19;
            } else {
                engine.BeginSession(op & 0x40 ? TELNET_PORT : 1470);
            }
            break;
        }

        const TelnetNegotiation& n = engine.m_negotiation;
        const int state = static_cast<int>(n.parserState);
        if (state < 0 || state > 4)
            return Fail("parser state out of range", step);
        if (n.argLength < 0 || n.argLength > TELNET_MAX_ARGS ||
            (n.parserState == TelnetState::InSubneg && n.argLength >= TELNET_MAX_ARGS))
            return Fail("argument length out of range", step);
        if (engine.m_nLineLength < 0 || engine.m_nLineLength > TELNET_LINE_SIZE - 2)
            return Fail("typed line out of range", step);
        if (received && t.sends != sendsBefore && !IsAnswer(t.lastSend))
            return Fail("an answer that is no command", step);
        const long bound = 300L * (2 * t.screen.Columns() + 1) + 2 * TELNET_TRIM_CHARS + localText;
        if (t.screen.Length() > bound)
            return Fail("text grew past its bound", step);
        if (step % 16 == 0 && !SameAsLaidOutAfresh(t.screen))
            return Fail("rows differ from a fresh layout", step);
    }
    if (!SameAsLaidOutAfresh(t.screen))
        return Fail("rows differ from a fresh layout", -1);
    return 0;
}

KORVO_FUZZ_TARGET(FuzzTelnetEngine, 3000, 4000)
