#include "telnet/telnet_engine.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t NUL = 0;
constexpr std::uint8_t BEL = 7;
constexpr std::uint8_t BS = 8;
constexpr std::uint8_t LF = 10;
constexpr std::uint8_t CR = 13;

// IAC SB TERMINAL-TYPE IS "DUMP" NUL IAC SE: the name's closing zero is sent too.
constexpr std::uint8_t kTerminalTypeReply[] = {TELNET_IAC, TELNET_SB, TELOPT_TTYPE, TELQUAL_IS, 'D', 'U', 'M',
                                               'P',        0,         TELNET_IAC,   TELNET_SE};

constexpr char kConnectionClosed[] = "Connection closed\r\n";

// Bytes that are not shown as they are.
constexpr auto kSpecial = [] {
    struct Table
    {
        bool special[256] = {};
    } t;
    for (const std::uint8_t b : {std::uint8_t(TELNET_IAC), NUL, BEL, BS, LF, CR})
        t.special[b] = true;
    return t;
}();

bool IsSpecial(std::uint8_t b)
{
    return kSpecial.special[b];
}

// Room always kept in the typed line for the longest line end (CR LF).
constexpr int kLineEndRoom = 2;

} // namespace

int EncodeUtf8(char32_t c, std::uint8_t* out)
{
    if (c < 0x80) {
        out[0] = static_cast<std::uint8_t>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        return 2;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return 0;
    if (c < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    return 4;
}

TelnetEngine::TelnetEngine(TelnetDisplay& display, TelnetSink& sink) : m_display(display), m_sink(sink) {}

void TelnetEngine::BeginSession(int remotePort)
{
    m_nRemotePort = remotePort;
    // The opening requests do not settle the options: the server's WILLs
    // that follow are still answered once.
    if (remotePort == TELNET_PORT) {
        SendDo(TELOPT_SGA);
        SendDo(TELOPT_ECHO);
    }
    m_negotiation.parserState = TelnetState::Normal;
}

void TelnetEngine::ResetInput()
{
    m_nLineLength = 0;
    m_bLineMode = false;
}

void TelnetEngine::Process(const std::uint8_t* data, int length)
{
    if (length <= 0) {
        ProcessRead(data, 0);
        return;
    }
    while (length > 0) {
        const int n = std::min(length, static_cast<int>(TELNET_READ_CHUNK));
        ProcessRead(data, n);
        data += n;
        length -= n;
    }
}

void TelnetEngine::ProcessRead(const std::uint8_t* data, int length)
{
    m_nTextLength = 0;
    // One beep per read: a burst of bells would otherwise ring for minutes.
    bool rang = false;
    for (int i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        if (m_negotiation.parserState != TelnetState::Normal) {
            ParseCommand(b);
            continue;
        }
        if (!IsSpecial(b)) {
            // Plain text up to the next byte that means something.
            int end = i + 1;
            while (end < length && !IsSpecial(data[end]))
                ++end;
            std::memcpy(m_displayText + m_nTextLength, data + i, static_cast<std::size_t>(end - i));
            m_nTextLength += end - i;
            i = end - 1;
            continue;
        }
        switch (b) {
        case TELNET_IAC:
            m_negotiation.parserState = TelnetState::GotIac;
            break;
        case NUL:
            break;
        case BEL:
            if (!rang)
                m_display.Beep();
            rang = true;
            break;
        case BS:
            // Erases what is shown, also text of an earlier read.
            FlushText();
            m_display.EraseCellBeforeCaret();
            break;
        case LF:
            if (m_nRxNewline == RX_LF_TO_CRLF)
                AppendText(CR);
            if (m_nRxNewline != RX_CR_TO_CRLF)
                AppendText(LF);
            break;
        case CR:
            if (m_nRxNewline != RX_LF_TO_CRLF)
                AppendText(CR);
            if (m_nRxNewline == RX_CR_TO_CRLF)
                AppendText(LF);
            break;
        default:
            AppendText(b);
            break;
        }
    }
    FlushText();
    // The terminal keeps its newest rows only.
    if (m_display.LineCount() > TELNET_MAX_LINES)
        m_display.TrimHead(TELNET_TRIM_CHARS);
}

void TelnetEngine::FlushText()
{
    m_display.InsertText(m_displayText, m_nTextLength);
    m_nTextLength = 0;
}

void TelnetEngine::ParseCommand(std::uint8_t b)
{
    TelnetNegotiation& n = m_negotiation;
    switch (n.parserState) {
    case TelnetState::GotIac:
        if (b == TELNET_SB) {
            n.argLength = 0;
            n.parserState = TelnetState::InSubneg;
        } else if (b >= TELNET_WILL && b <= TELNET_DONT) {
            n.argBuffer[0] = b;
            n.argLength = 1;
            n.parserState = TelnetState::GotCommand;
        } else {
            // IAC IAC is the data byte 255; every other command is two bytes
            // long and needs no answer.
            if (b == TELNET_IAC)
                AppendText(b);
            n.parserState = TelnetState::Normal;
        }
        break;
    case TelnetState::GotCommand:
        n.argBuffer[1] = b;
        n.argLength = 2;
        n.parserState = TelnetState::Normal;
        Negotiate();
        break;
    case TelnetState::InSubneg:
        // argLength is below TELNET_MAX_ARGS here: reaching it abandons.
        n.argBuffer[n.argLength++] = b;
        if (b == TELNET_IAC)
            n.parserState = TelnetState::SubnegIac;
        else if (n.argLength == TELNET_MAX_ARGS)
            n.parserState = TelnetState::Normal; // too long: the rest is data
        break;
    case TelnetState::SubnegIac:
        n.parserState = TelnetState::Normal;
        if (b == TELNET_SE)
            Subnegotiate();
        break;
    case TelnetState::Normal:
        break;
    }
}

void TelnetEngine::Negotiate()
{
    TelnetNegotiation& n = m_negotiation;
    const std::uint8_t verb = n.argBuffer[0];
    const std::uint8_t option = n.argBuffer[1];
    if (verb == TELNET_WILL) {
        if (option == TELOPT_ECHO) {
            if (!n.echoSettled)
                SendDo(TELOPT_ECHO);
            n.echoSettled = true;
        } else if (option == TELOPT_SGA) {
            if (!n.sgaSettled)
                SendDo(TELOPT_SGA);
            n.sgaSettled = true;
        } else {
            SendDont(option);
        }
    } else if (verb == TELNET_DO) {
        if (option == TELOPT_ECHO) {
            if (!n.echoOffered)
                SendWont(TELOPT_ECHO);
            else if (!n.echoSettled)
                SendWill(TELOPT_ECHO);
            n.echoSettled = true;
        } else if (option == TELOPT_SGA) {
            if (!n.sgaSettled)
                SendWill(TELOPT_SGA);
            n.sgaSettled = true;
        } else if (option == TELOPT_TTYPE) {
            SendWill(TELOPT_TTYPE);
        } else {
            SendWont(option);
        }
    }
    // WONT and DONT need no answer.
}

void TelnetEngine::Subnegotiate()
{
    const TelnetNegotiation& n = m_negotiation;
    // Option, qualifier and the closing IAC at least.
    if (n.argLength >= 3 && n.argBuffer[0] == TELOPT_TTYPE && n.argBuffer[1] == TELQUAL_SEND)
        m_sink.Send(kTerminalTypeReply, sizeof kTerminalTypeReply);
}

void TelnetEngine::SendCommand(std::uint8_t verb, std::uint8_t option)
{
    const std::uint8_t command[] = {TELNET_IAC, verb, option};
    m_sink.Send(command, sizeof command);
}

void TelnetEngine::SendNop()
{
    static constexpr std::uint8_t nop[] = {TELNET_IAC, TELNET_NOP};
    m_sink.Send(nop, sizeof nop);
}

void TelnetEngine::OnConnectionClosed()
{
    m_display.InsertText(kConnectionClosed, static_cast<int>(sizeof kConnectionClosed - 1));
    m_display.SetReadOnly();
}

void TelnetEngine::SendPendingLine()
{
    if (m_nLineLength == 0)
        return;
    m_sink.Send(m_szLine, m_nLineLength);
    m_nLineLength = 0;
}

void TelnetEngine::OnChar(char32_t c)
{
    std::uint8_t bytes[4];
    if (!m_bLineMode) {
        // A line left over from line mode goes first, on its own.
        SendPendingLine();
        if (c == CR) {
            static constexpr std::uint8_t crlf[] = {CR, LF};
            if (m_nTxNewline == TX_CR_TO_CRLF)
                m_sink.Send(crlf, 2);
            else
                m_sink.Send(m_nTxNewline == TX_CR_TO_LF ? crlf + 1 : crlf, 1);
            return;
        }
        // Backspace included: the server decides what it erases.
        if (const int n = EncodeUtf8(c, bytes))
            m_sink.Send(bytes, n);
        return;
    }

    if (c == BS) {
        if (m_nLineLength == 0)
            return;
        m_display.EraseBeforeCaret();
        // Drops the whole of the last character's UTF-8 sequence.
        --m_nLineLength;
        while (m_nLineLength > 0 && (m_szLine[m_nLineLength] & 0xC0) == 0x80)
            --m_nLineLength;
        return;
    }
    if (c == CR) {
        if (m_nTxNewline != TX_CR_TO_LF)
            m_szLine[m_nLineLength++] = CR;
        if (m_nTxNewline != TX_NO_CONVERT)
            m_szLine[m_nLineLength++] = LF;
        m_display.InsertText("\r\n", 2);
        SendPendingLine();
        return;
    }
    const int n = EncodeUtf8(c, bytes);
    if (n == 0)
        return;
    if (m_nLineLength + n > TELNET_LINE_SIZE - kLineEndRoom) {
        m_display.Beep();
        return;
    }
    std::memcpy(m_szLine + m_nLineLength, bytes, static_cast<std::size_t>(n));
    m_nLineLength += n;
    m_display.InsertText(reinterpret_cast<const char*>(bytes), n);
}
