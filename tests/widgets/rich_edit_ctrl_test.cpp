// The rich-text view: what a streamed document becomes, and how the stream is
// pulled from a callback that may misbehave.
#include "ui/rich_edit_ctrl.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextDocument>

#include <cstring>
#include <string>

namespace {

struct Source
{
    std::string data;
    std::size_t pos = 0;
    int calls = 0;
    std::int32_t claim = 0;  // when > 0, the count reported whatever was copied
    std::uint32_t error = 0; // returned from the second call on
};

std::uint32_t Pull(std::uintptr_t cookie, std::uint8_t* buffer, std::int32_t cb, std::int32_t* pcb)
{
    auto* s = reinterpret_cast<Source*>(cookie);
    if (++s->calls > 1 && s->error)
        return s->error;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(cb), s->data.size() - s->pos);
    std::memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    *pcb = s->claim > 0 && n > 0 ? s->claim : static_cast<std::int32_t>(n);
    return 0;
}

long Stream(CRichEditCtrl& edit, Source& s, unsigned format = SF_RTF)
{
    EDITSTREAM es;
    es.dwCookie = reinterpret_cast<std::uintptr_t>(&s);
    es.pfnCallback = Pull;
    const long n = edit.StreamIn(format, es);
    EXPECT_EQ(s.error ? s.error : 0u, es.dwError);
    return n;
}

TEST(RichEditCtrl, StreamedRtfBecomesFormattedParagraphs)
{
    CRichEditCtrl edit;
    edit.SetStreamBufferSize(7); // many small pieces
    Source s{
        R"({\rtf1{\fonttbl{\f0 Arial;}}\qc\b\fs28 Title\par\pard\qj\b0\fs20 Body \i slanted\i0  and \ul marked\ulnone .\par})"};
    EXPECT_EQ(static_cast<long>(s.data.size()), Stream(edit, s));
    EXPECT_GT(s.calls, 10);

    QTextDocument* doc = edit.document();
    ASSERT_EQ(2, doc->blockCount());
    const QTextBlock title = doc->firstBlock();
    EXPECT_EQ(QStringLiteral("Title"), title.text());
    EXPECT_EQ(Qt::AlignHCenter, title.blockFormat().alignment() & Qt::AlignHorizontal_Mask);
    EXPECT_EQ(QFont::Bold, title.begin().fragment().charFormat().fontWeight());
    EXPECT_EQ(14.0, title.begin().fragment().charFormat().fontPointSize());

    const QTextBlock body = title.next();
    EXPECT_EQ(QStringLiteral("Body slanted and marked."), body.text());
    EXPECT_EQ(Qt::AlignJustify, body.blockFormat().alignment() & Qt::AlignHorizontal_Mask);
    QStringList italic, underlined;
    for (auto it = body.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        EXPECT_EQ(10.0, f.charFormat().fontPointSize());
        EXPECT_NE(QFont::Bold, f.charFormat().fontWeight());
        if (f.charFormat().fontItalic())
            italic << f.text();
        if (f.charFormat().fontUnderline())
            underlined << f.text();
    }
    EXPECT_EQ(QStringList{QStringLiteral("slanted")}, italic);
    EXPECT_EQ(QStringList{QStringLiteral("marked")}, underlined);
}

TEST(RichEditCtrl, NeverReadsMoreThanItOffersAndStopsOnError)
{
    CRichEditCtrl edit;
    edit.SetStreamBufferSize(4);

    // A callback that claims more than the buffer holds is taken at the buffer's size.
    Source liar{"{\\rtf1 abcdefgh}", 0, 0, 1000};
    EXPECT_EQ(static_cast<long>(liar.data.size()), Stream(edit, liar));
    EXPECT_EQ(QStringLiteral("abcdefgh"), edit.toPlainText());

    // An error ends the stream; what came before it is shown, the new content replaces the old.
    Source failing{"{\\rtf1 abcdefgh}", 0, 0, 0, 5};
    EXPECT_EQ(4, Stream(edit, failing));
    EXPECT_EQ(QStringLiteral(""), edit.toPlainText());

    // Plain text is taken as it is.
    Source text{"{not rtf}"};
    Stream(edit, text, SF_TEXT);
    EXPECT_EQ(QStringLiteral("{not rtf}"), edit.toPlainText());
}

} // namespace
