#pragma once

// RtfReader: a streaming reader for the subset of RTF that our documents use.
// It takes the bytes in chunks of any size and split, and builds paragraphs of
// formatted runs; no widgets are involved, so it can be tested and fuzzed alone.
//
// Understood: groups, \par \line \sect \page, \b \i \ul \ulnone (and their 0
// forms), \fs, \ql \qc \qr \qj, \sb \sa, \pard and \plain, \uN with \ucN fallback
// skipping, \'hh in the document's code page (\ansicpg; Windows-1252 and
// Latin-1), \tab and a few named punctuation words, the escaped \\ \{ \},
// \~ \_ \-, and \bin. Unknown control words are ignored; \* destinations and
// the tables that are not text (fonttbl, colortbl, stylesheet, info, ...) are
// skipped. Malformed input is read as far as it makes sense and never fails.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RtfCharFormat
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24; // \fs: font size in half points

    bool operator==(const RtfCharFormat&) const = default;
};

enum class RtfAlignment { Left, Center, Right, Justify };

struct RtfRun
{
    RtfCharFormat format;
    QString text; // \line is U+2028, \tab is '\t'
};

struct RtfParagraphFormat
{
    RtfAlignment alignment = RtfAlignment::Left;
    int spaceBefore = 0; // \sb, twips
    int spaceAfter = 0;  // \sa, twips

    bool operator==(const RtfParagraphFormat&) const = default;
};

struct RtfParagraph
{
    RtfParagraphFormat format;
    std::vector<RtfRun> runs;

    QString Text() const;
};

class RtfReader
{
public:
    // Deeper groups are read but their content is dropped.
    static constexpr std::size_t kMaxGroupDepth = 128;
    // Longer control words are read to their end and ignored.
    static constexpr std::size_t kMaxWordLength = 32;
    // Digits beyond these are read and ignored; the value saturates.
    static constexpr std::size_t kMaxParamDigits = 10;

    RtfReader();

    // Reads the next chunk; any split of a document gives the same result.
    void Feed(const char* data, std::size_t size);
    // Ends the document: a pending control word takes effect and the last
    // paragraph, if it holds text, is closed. Feeding afterwards is ignored.
    void Finish();
    // Back to the state of a new reader.
    void Reset();

    const std::vector<RtfParagraph>& Paragraphs() const { return m_paragraphs; }
    // The paragraphs' text joined by '\n' (line breaks become '\n' too).
    QString PlainText() const;
    // The code page \'hh and raw 8-bit bytes are read in.
    int CodePage() const { return m_nCodePage; }

private:
    enum class Lex { Text, Escape, Word, Param, Hex1, Hex2, Binary };

    struct Group
    {
        RtfCharFormat format;
        RtfParagraphFormat paragraph;
        int uc = 1;        // fallback characters after \uN
        bool skip = false; // a destination whose content is not text
    };

    void Byte(unsigned char c);
    void PushGroup();
    void PopGroup();
    void ControlWord();
    void ControlSymbol(unsigned char c);
    void TextByte(unsigned char c);
    void UnicodeChar(long value);
    void Emit(char16_t unit);
    void EmitCodePoint(char16_t unit);
    void FlushSurrogate();
    void EndParagraph();
    bool Skipping() const;
    // True (and one fallback character used up) while \uN's fallback is being skipped.
    bool SkipFallback();

    Group& Top() { return m_groups.back(); }

    Lex m_lex = Lex::Text;
    std::vector<Group> m_groups;
    std::size_t m_nOverflow = 0; // groups opened beyond kMaxGroupDepth
    std::string m_word;
    bool m_bWordTooLong = false;
    bool m_bParamNegative = false;
    bool m_bHasParam = false;
    std::size_t m_nParamDigits = 0;
    long long m_nParam = 0;
    int m_nHexHigh = 0;
    std::uint64_t m_nBinaryLeft = 0;
    int m_nSkipFallback = 0;
    char16_t m_pendingHigh = 0; // a high surrogate waiting for its low half
    int m_nCodePage = 1252;
    bool m_bFinished = false;

    RtfParagraph m_current;
    std::vector<RtfParagraph> m_paragraphs;
};
