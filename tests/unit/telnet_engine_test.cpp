// The Telnet engine on its own: bytes in, bytes sent back and text shown.
#include "unit/telnet_recorder.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace korvo::test;

namespace {

std::string B(std::initializer_list<int> bytes)
{
    std::string s;
    for (const int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

const std::string DO_SGA = B({255, 253, 3}), DO_ECHO = B({255, 253, 1});
const std::string WILL_SGA = B({255, 251, 3}), WILL_ECHO = B({255, 251, 1});
const std::string WONT_ECHO = B({255, 252, 1}), WILL_TTYPE = B({255, 251, 24});
const std::string TTYPE_SEND = B({255, 250, 24, 1, 255, 240});
const std::string TTYPE_IS_DUMP = B({255, 250, 24, 0, 'D', 'U', 'M', 'P', 0, 255, 240});

// Lines of nine digits and CR LF, `count` of them.
std::string NumberedLines(int count)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "%09d\r\n", i);
        s += line;
    }
    return s;
}

TEST(TelnetEngine, ReceivedBytes)
{
    const std::string sb32 = B({255, 250, 24, 1}) + std::string(29, 'a') + B({255, 240});
    const std::string sb33 = B({255, 250, 24, 1}) + std::string(30, 'a') + "XY" + B({255, 240});
    const std::string lines300 = NumberedLines(299) + "last";
    const std::string lines301 = NumberedLines(301);
    const struct
    {
        const char* name;
        int port;
        RxNewline rx;
        std::vector<std::string> reads;
        std::vector<std::string> sends;
        std::string shown;
        int beeps = 0;
    } cases[] = {
        {"port 23 opens with DO SGA, DO ECHO", 23, RX_NO_CONVERT, {}, {DO_SGA, DO_ECHO}, ""},
        {"other ports open silently", 1470, RX_NO_CONVERT, {}, {}, ""},
        {"the opening does not settle: WILLs answered once",
         23,
         RX_NO_CONVERT,
         {WILL_SGA + WILL_ECHO, WILL_SGA + WILL_ECHO},
         {DO_SGA, DO_ECHO, DO_SGA, DO_ECHO},
         ""},
        {"DO TTYPE answered every time",
         1470,
         RX_NO_CONVERT,
         {B({255, 253, 24}), B({255, 253, 24})},
         {WILL_TTYPE, WILL_TTYPE},
         ""},
        {"TTYPE SEND gets DUMP, eleven bytes", 1470, RX_NO_CONVERT, {TTYPE_SEND}, {TTYPE_IS_DUMP}, ""},
        {"TTYPE IS gets nothing", 1470, RX_NO_CONVERT, {B({255, 250, 24, 0, 'V', 'T', 255, 240})}, {}, ""},
        {"other options refused, WONT and DONT ignored",
         1470,
         RX_NO_CONVERT,
         {B({255, 253, 31, 255, 251, 5, 255, 251, 24, 255, 252, 1, 255, 254, 3})},
         {B({255, 252, 31}), B({255, 254, 5}), B({255, 254, 24})},
         ""},
        {"DO ECHO refused every time; it settles WILL ECHO",
         1470,
         RX_NO_CONVERT,
         {DO_ECHO, DO_ECHO, WILL_ECHO},
         {WONT_ECHO, WONT_ECHO},
         ""},
        {"one flag for both directions of SGA", 1470, RX_NO_CONVERT, {DO_SGA, WILL_SGA}, {WILL_SGA}, ""},
        {"IAC IAC is the byte 255", 1470, RX_NO_CONVERT, {B({65, 255, 255, 66})}, {}, B({65, 255, 66})},
        {"two-byte commands vanish",
         1470,
         RX_NO_CONVERT,
         {B({'x', 255, 241, 'y', 255, 242, 255, 249})},
         {},
         "xy"},
        {"NUL dropped, BEL beeps once per read",
         1470,
         RX_NO_CONVERT,
         {B({'a', 0, 7, 'b', 7}), B({7})},
         {},
         "ab",
         2},
        {"BS erases text of an earlier read", 1470, RX_NO_CONVERT, {"abc", "\bd\b\be"}, {}, "ae"},
        {"no conversion", 1470, RX_NO_CONVERT, {"a\r\nb\rc\nd"}, {}, "a\r\nb\rc\nd"},
        {"CR -> CR+LF drops LF", 1470, RX_CR_TO_CRLF, {"a\r\nb\rc\nd"}, {}, "a\r\nb\r\ncd"},
        {"LF -> CR+LF drops CR", 1470, RX_LF_TO_CRLF, {"a\r\nb\rc\nd"}, {}, "a\r\nbc\r\nd"},
        {"sub-negotiation of 32 bytes handled", 1470, RX_NO_CONVERT, {sb32}, {TTYPE_IS_DUMP}, ""},
        {"one of 33 abandoned, its rest shown", 1470, RX_NO_CONVERT, {sb33}, {}, "XY"},
        {"IAC and not SE abandons", 1470, RX_NO_CONVERT, {B({255, 250, 24, 1, 255, 'z', 'q'})}, {}, "q"},
        {"300 lines kept", 1470, RX_NO_CONVERT, {lines300}, {}, lines300},
        {"301 lines lose the first 2,048 characters",
         1470,
         RX_NO_CONVERT,
         {lines301},
         {},
         lines301.substr(2048)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TelnetRecorder r;
        TelnetEngine engine(r, r);
        engine.m_nRxNewline = c.rx;
        engine.BeginSession(c.port);
        for (const std::string& read : c.reads)
            Feed(engine, read);
        EXPECT_EQ(c.sends, r.sends);
        EXPECT_EQ(c.shown, r.shown);
        EXPECT_EQ(c.beeps, r.beeps);
    }
}

// Every split of a stream into two and three reads answers and shows the same
// as the stream in one read.
TEST(TelnetEngine, AnyReadBoundary)
{
    const std::string stream =
        "x" + WILL_SGA + "y" + B({255, 255}) + TTYPE_SEND + B({255, 241}) + "z" + B({255, 253, 31}) + "\r\n";
    TelnetRecorder whole;
    TelnetEngine reference(whole, whole);
    Feed(reference, stream);
    ASSERT_EQ(3u, whole.sends.size());
    for (size_t i = 0; i <= stream.size(); ++i) {
        for (size_t j = i; j <= stream.size(); ++j) {
            TelnetRecorder r;
            TelnetEngine engine(r, r);
            Feed(engine, stream.substr(0, i));
            Feed(engine, stream.substr(i, j - i));
            Feed(engine, stream.substr(j));
            ASSERT_EQ(whole.sends, r.sends) << "split at " << i << ", " << j;
            ASSERT_EQ(whole.shown, r.shown) << "split at " << i << ", " << j;
        }
    }
}

TEST(TelnetEngine, SecondSessionKeepsSettledOptionsButNotTheParser)
{
    TelnetRecorder r;
    TelnetEngine engine(r, r);
    engine.BeginSession(23);
    Feed(engine, WILL_SGA + DO_ECHO + B({255}));
    engine.BeginSession(23);
    Feed(engine, "A" + WILL_SGA + WILL_ECHO);
    const std::vector<std::string> expected = {DO_SGA, DO_ECHO, DO_SGA, WONT_ECHO, DO_SGA, DO_ECHO};
    EXPECT_EQ(expected, r.sends);
    EXPECT_EQ("A", r.shown);
}

TEST(TelnetEngine, FullReadOfLineFeedsIsShownWholeThenTrimmed)
{
    TelnetRecorder r;
    TelnetEngine engine(r, r);
    engine.m_nRxNewline = RX_LF_TO_CRLF;
    Feed(engine, std::string(1024, '\n'));
    EXPECT_EQ(2048u, r.inserted);
    EXPECT_EQ("", r.shown);
}

TEST(TelnetEngine, ConnectionClosed)
{
    TelnetRecorder r;
    TelnetEngine engine(r, r);
    Feed(engine, "bye\r\n");
    engine.OnConnectionClosed();
    EXPECT_EQ("bye\r\nConnection closed\r\n", r.shown);
    EXPECT_TRUE(r.readOnly);
    EXPECT_TRUE(r.sends.empty());
}

TEST(TelnetEngine, TypedCharacters)
{
    const std::u32string full = std::u32string(255, U'a') + U"\r";
    const struct
    {
        const char* name;
        bool lineMode;
        TxNewline tx;
        std::u32string keys;
        std::vector<std::string> sends;
        std::string shown;
        int beeps = 0;
    } cases[] = {
        {"Enter, no conversion", false, TX_NO_CONVERT, U"\r", {"\r"}, ""},
        {"Enter, CR -> CR+LF, one send", false, TX_CR_TO_CRLF, U"\r", {"\r\n"}, ""},
        {"Enter, CR -> LF", false, TX_CR_TO_LF, U"\r", {"\n"}, ""},
        {"characters go at once, nothing shown", false, TX_CR_TO_CRLF, U"l\b\x03", {"l", "\b", "\x03"}, ""},
        {"text as UTF-8", false, TX_NO_CONVERT, U"\u00e9\uD55C", {"\xC3\xA9", "\xED\x95\x9C"}, ""},
        {"line mode echoes and sends on Enter", true, TX_CR_TO_CRLF, U"ls\r", {"ls\r\n"}, "ls\r\n"},
        {"line mode, Backspace on an empty line", true, TX_NO_CONVERT, U"\b", {}, ""},
        {"line mode, Backspace takes the last character", true, TX_NO_CONVERT, U"ab\b\r", {"a\r"}, "a\r\n"},
        {"line mode, Backspace takes a whole UTF-8 character",
         true,
         TX_CR_TO_LF,
         U"\u00e9\bx\r",
         {"x\n"},
         "x\r\n"},
        {"line mode keeps room for CR LF, beeps past it",
         true,
         TX_CR_TO_CRLF,
         full,
         {std::string(254, 'a') + "\r\n"},
         std::string(254, 'a') + "\r\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TelnetRecorder r;
        TelnetEngine engine(r, r);
        engine.m_bLineMode = c.lineMode;
        engine.m_nTxNewline = c.tx;
        for (const char32_t key : c.keys)
            engine.OnChar(key);
        EXPECT_EQ(c.sends, r.sends);
        EXPECT_EQ(c.shown, r.shown);
        EXPECT_EQ(c.beeps, r.beeps);
    }
}

TEST(TelnetEngine, LineLeftFromLineModeGoesBeforeTheNextCharacter)
{
    TelnetRecorder r;
    TelnetEngine engine(r, r);
    engine.m_bLineMode = true;
    for (const char32_t c : std::u32string_view(U"abc"))
        engine.OnChar(c);
    engine.m_bLineMode = false;
    EXPECT_TRUE(r.sends.empty());
    engine.OnChar(U'd');
    EXPECT_EQ((std::vector<std::string>{"abc", "d"}), r.sends);
    engine.SendNop();
    EXPECT_EQ(B({255, 241}), r.sends.back());
}

} // namespace
