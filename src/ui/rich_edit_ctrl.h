#pragma once

// CRichEditCtrl: the read-only rich-text view of the disclaimer. Content comes
// in through StreamIn, which pulls the document from a callback in pieces no
// larger than the buffer it offers and reads it with our RTF reader.
#include <QTextEdit>

#include <cstdint>
#include <vector>

class QTextDocument;
class RtfReader;

// Hands over up to `cb` bytes into `pbBuff` and stores the count in `*pcb`;
// 0 bytes ends the stream, a non-zero return is an error that ends it too.
using EDITSTREAMCALLBACK = std::uint32_t (*)(std::uintptr_t dwCookie, std::uint8_t* pbBuff, std::int32_t cb,
                                             std::int32_t* pcb);

struct EDITSTREAM
{
    std::uintptr_t dwCookie = 0;
    std::uint32_t dwError = 0;
    EDITSTREAMCALLBACK pfnCallback = nullptr;
};

// Stream formats.
enum : unsigned {
    SF_TEXT = 0x0001,
    SF_RTF = 0x0002,
};

// Puts what the reader built into the document, replacing its content. Runs
// keep the document's font family; sizes, weight, slant and underline come
// from the runs, alignment from the paragraphs.
void FillDocument(QTextDocument* document, const RtfReader& reader);

class CRichEditCtrl : public QTextEdit
{
    Q_OBJECT

public:
    explicit CRichEditCtrl(QWidget* parent = nullptr);

    // Replaces the whole content with the streamed document; returns the
    // number of bytes read. es.dwError holds the callback's error, if any.
    long StreamIn(unsigned nFormat, EDITSTREAM& es);

    // Index of the topmost line that is at least partly visible.
    int GetFirstVisibleLine() const;
    // Scrolls by whole lines (negative: up), clamped to the document.
    void LineScroll(int nLines);
    // Lines as laid out (a wrapped paragraph counts each of its lines).
    int GetLineCount() const;

    // Bytes offered to the callback per call.
    static constexpr std::int32_t kStreamBufferSize = 4096;
    void SetStreamBufferSize(std::int32_t size) { m_nStreamBufferSize = size > 0 ? size : 1; }
    std::int32_t StreamBufferSize() const { return m_nStreamBufferSize; }

private:
    struct LineSpan
    {
        double top;
        double bottom;
    };
    // Every laid-out line, in document coordinates, in order.
    std::vector<LineSpan> Lines() const;

    std::int32_t m_nStreamBufferSize = kStreamBufferSize;
};
