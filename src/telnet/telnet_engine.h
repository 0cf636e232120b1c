#pragma once

// TelnetEngine: the Telnet side of a terminal session with no window and no
// socket in it. Received bytes come in; commands are answered through a
// TelnetSink and the text is shown through a TelnetDisplay. Typed characters
// come in too: sent at once, or edited locally as a line in line mode.
//
// Everything is fixed-size: no allocation per byte, per read or per key.
#include <cstdint>

enum : int {
    TELNET_PORT = 23,
    TELNET_READ_CHUNK = 1024,
    TELNET_MAX_ARGS = 32,
    TELNET_MAX_LINES = 300,
    TELNET_TRIM_CHARS = 2048,
    TELNET_LINE_SIZE = 256,
};

// Command bytes.
enum : std::uint8_t {
    TELNET_SE = 240,
    TELNET_NOP = 241,
    TELNET_SB = 250,
    TELNET_WILL = 251,
    TELNET_WONT = 252,
    TELNET_DO = 253,
    TELNET_DONT = 254,
    TELNET_IAC = 255,
};

// Options and sub-negotiation qualifiers the engine acts on.
enum : std::uint8_t {
    TELOPT_ECHO = 1,
    TELOPT_SGA = 3,
    TELOPT_TTYPE = 24,
    TELQUAL_IS = 0,
    TELQUAL_SEND = 1,
};

enum class TelnetState : int {
    Normal = 0,     // plain data
    GotIac = 1,     // IAC seen
    GotCommand = 2, // IAC WILL/WONT/DO/DONT seen; the option byte is next
    InSubneg = 3,   // inside IAC SB
    SubnegIac = 4,  // IAC seen inside a sub-negotiation
};

// The items of the receive and send combo boxes.
enum RxNewline : int {
    RX_NO_CONVERT = 0,
    RX_CR_TO_CRLF = 1,
    RX_LF_TO_CRLF = 2,
};
enum TxNewline : int {
    TX_NO_CONVERT = 0,
    TX_CR_TO_CRLF = 1,
    TX_CR_TO_LF = 2,
};

struct TelnetNegotiation
{
    // Set once a WILL or DO for the option has been answered; kept for the
    // rest of the run.
    bool sgaSettled = false;
    // Whether we would echo for the peer; nothing sets it, so DO ECHO is refused.
    bool echoOffered = false;
    bool echoSettled = false;
    TelnetState parserState = TelnetState::Normal;
    int argLength = 0;
    // After IAC and a verb: the verb, then the option. Inside a
    // sub-negotiation: the bytes after IAC SB, the closing IAC included.
    std::uint8_t argBuffer[TELNET_MAX_ARGS] = {};
};

// What the engine needs of the terminal display.
class TelnetDisplay
{
public:
    virtual ~TelnetDisplay() = default;
    // Inserts text after the newest text, where the caret always stays.
    virtual void InsertText(const char* text, int length) = 0;
    // Erases the one character before the caret.
    virtual void EraseBeforeCaret() = 0;
    // A Backspace from the peer: steps back one cell, so a wide character
    // takes two. A display without cells erases a character.
    virtual void EraseCellBeforeCaret() { EraseBeforeCaret(); }
    // Rows shown: a line wider than the terminal counts once per row it wraps to.
    virtual int LineCount() const = 0;
    // Removes the first `count` characters (all, if there are fewer).
    virtual void TrimHead(int count) = 0;
    virtual void SetReadOnly() = 0;
    virtual void Beep() = 0;
};

// What the engine needs of the socket: one send per call, result ignored.
class TelnetSink
{
public:
    virtual ~TelnetSink() = default;
    virtual void Send(const void* data, int length) = 0;
};

class TelnetEngine
{
public:
    TelnetEngine(TelnetDisplay& display, TelnetSink& sink);

    // Starts a session: for port 23 asks the server to suppress go-ahead and
    // to echo. The parser starts afresh; the negotiation memory does not.
    void BeginSession(int remotePort);
    // Empties the typed line and switches line mode off (a new window).
    void ResetInput();

    // The engine's read buffer: a socket read goes here, then Process.
    std::uint8_t* ReadBuffer() { return m_readBuffer; }
    // One read: answers commands as they come, then shows the text and keeps
    // the display under TELNET_MAX_LINES. Longer input is taken as several reads.
    void Process(const std::uint8_t* data, int length);

    // A typed character (a Unicode code point; Enter is 13, Backspace 8).
    void OnChar(char32_t c);
    void SendNop();
    void OnConnectionClosed();

    void SendDo(std::uint8_t option) { SendCommand(TELNET_DO, option); }
    void SendDont(std::uint8_t option) { SendCommand(TELNET_DONT, option); }
    void SendWill(std::uint8_t option) { SendCommand(TELNET_WILL, option); }
    void SendWont(std::uint8_t option) { SendCommand(TELNET_WONT, option); }

    int m_nRemotePort = 0;
    RxNewline m_nRxNewline = RX_NO_CONVERT;
    TxNewline m_nTxNewline = TX_NO_CONVERT;
    bool m_bLineMode = false;
    TelnetNegotiation m_negotiation;
    // The typed line not yet sent, in UTF-8.
    std::uint8_t m_szLine[TELNET_LINE_SIZE] = {};
    int m_nLineLength = 0;

private:
    void ProcessRead(const std::uint8_t* data, int length);
    void ParseCommand(std::uint8_t b);
    void Negotiate();
    void Subnegotiate();
    void SendCommand(std::uint8_t verb, std::uint8_t option);
    void SendPendingLine();
    void FlushText();
    void AppendText(std::uint8_t b) { m_displayText[m_nTextLength++] = static_cast<char>(b); }

    TelnetDisplay& m_display;
    TelnetSink& m_sink;
    std::uint8_t m_readBuffer[TELNET_READ_CHUNK] = {};
    // Converted text of one read: every received byte gives at most two.
    char m_displayText[2 * TELNET_READ_CHUNK] = {};
    int m_nTextLength = 0;
};

// The UTF-8 bytes of a code point (1 to 4); 0 for a surrogate or a value
// beyond Unicode.
int EncodeUtf8(char32_t c, std::uint8_t* out);
