#include "ui/rich_edit_ctrl.h"

#include "ui/rtf_reader.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// However the callback behaves, a stream ends after this much.
constexpr long kMaxStreamBytes = 64L * 1024 * 1024;

Qt::Alignment ToQt(RtfAlignment a)
{
    switch (a) {
    case RtfAlignment::Center:
        return Qt::AlignHCenter;
    case RtfAlignment::Right:
        return Qt::AlignRight;
    case RtfAlignment::Justify:
        return Qt::AlignJustify;
    case RtfAlignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

QTextCharFormat ToQt(const RtfCharFormat& f)
{
    QTextCharFormat cf;
    cf.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
    cf.setFontItalic(f.italic);
    cf.setFontUnderline(f.underline);
    cf.setFontPointSize(f.halfPoints / 2.0);
    return cf;
}

} // namespace

void FillDocument(QTextDocument* document, const RtfReader& reader)
{
    document->clear();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    bool first = true;
    for (const RtfParagraph& p : reader.Paragraphs()) {
        QTextBlockFormat bf;
        bf.setAlignment(ToQt(p.format.alignment));
        // Twips to pixels at 96 dots per inch.
        bf.setTopMargin(p.format.spaceBefore / 15.0);
        bf.setBottomMargin(p.format.spaceAfter / 15.0);
        if (first)
            cursor.setBlockFormat(bf);
        else
            cursor.insertBlock(bf);
        first = false;
        for (const RtfRun& run : p.runs)
            cursor.insertText(run.text, ToQt(run.format));
    }
    cursor.endEditBlock();
}

CRichEditCtrl::CRichEditCtrl(QWidget* parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(QStringLiteral("Disclaimer"));
}

long CRichEditCtrl::StreamIn(unsigned nFormat, EDITSTREAM& es)
{
    es.dwError = 0;
    if (!es.pfnCallback)
        return 0;

    RtfReader reader;
    QByteArray text; // SF_TEXT
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(m_nStreamBufferSize));
    long total = 0;
    while (total < kMaxStreamBytes) {
        std::int32_t got = 0;
        es.dwError = es.pfnCallback(es.dwCookie, buffer.data(), m_nStreamBufferSize, &got);
        if (es.dwError != 0 || got <= 0)
            break;
        if (got > m_nStreamBufferSize) // never read past what we offered
            got = m_nStreamBufferSize;
        if (nFormat & SF_RTF)
            reader.Feed(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(got));
        else
            text.append(reinterpret_cast<const char*>(buffer.data()), got);
        total += got;
    }

    if (nFormat & SF_RTF) {
        reader.Finish();
        FillDocument(document(), reader);
    } else {
        setPlainText(QString::fromLocal8Bit(text));
    }
    moveCursor(QTextCursor::Start);
    return total;
}

std::vector<CRichEditCtrl::LineSpan> CRichEditCtrl::Lines() const
{
    std::vector<LineSpan> lines;
    const QAbstractTextDocumentLayout* layout = document()->documentLayout();
    for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next()) {
        const QRectF rect = layout->blockBoundingRect(b); // lays the block out
        const QTextLayout* tl = b.layout();
        for (int i = 0; tl && i < tl->lineCount(); ++i) {
            const QTextLine line = tl->lineAt(i);
            lines.push_back({rect.top() + line.y(), rect.top() + line.y() + line.height()});
        }
    }
    return lines;
}

int CRichEditCtrl::GetLineCount() const
{
    return static_cast<int>(Lines().size());
}

int CRichEditCtrl::GetFirstVisibleLine() const
{
    const int value = verticalScrollBar()->value();
    const std::vector<LineSpan> lines = Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].bottom > value)
            return static_cast<int>(i);
    }
    return lines.empty() ? 0 : static_cast<int>(lines.size()) - 1;
}

void CRichEditCtrl::LineScroll(int nLines)
{
    const std::vector<LineSpan> lines = Lines();
    if (lines.empty())
        return;
    const long target = std::clamp<long>(static_cast<long>(GetFirstVisibleLine()) + nLines, 0,
                                         static_cast<long>(lines.size()) - 1);
    // Rounded up, so that the target line, not the one above it, is the first visible.
    verticalScrollBar()->setValue(target == 0 ? 0 : static_cast<int>(std::ceil(lines[target].top)));
}
