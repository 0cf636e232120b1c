// The disclaimer documents as the program carries them, the generator that
// makes their line tables, and the callback that streams them.
#include "disclaimer_documents.h"
#include "ui/agreement_dlg.h"
#include "ui/rtf_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Document
{
    const char* file;
    const char* const* table;
    const char* heading;
};

const std::array<Document, 3> kDocuments = {{
    {"disclaimer_ko.rtf", g_rtfKorean, "면책 고지"},
    {"disclaimer_en.rtf", g_rtfEnglish, "DISCLAIMER OF LIABILITY"},
    {"disclaimer_fr.rtf", g_rtfFrench, "AVIS DE NON-RESPONSABILITÉ"},
}};

QByteArray ReadSource(const char* name)
{
    QFile f(QStringLiteral(KORVO_SOURCE_DIR "/res/") + QString::fromLatin1(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

TEST(DisclaimerDocuments, TablesAreTheSourceFilesInShortLines)
{
    for (const Document& d : kDocuments) {
        QByteArray joined;
        std::size_t lines = 0;
        for (const char* const* line = d.table; *line; ++line, ++lines) {
            const std::size_t length = std::strlen(*line);
            EXPECT_GT(length, 0u) << d.file << " line " << lines;
            EXPECT_LE(length, static_cast<std::size_t>(RTF_MAX_LINE)) << d.file << " line " << lines;
            joined += *line;
        }
        EXPECT_GT(lines, 10u) << d.file;
        EXPECT_EQ(ReadSource(d.file), joined) << d.file;
    }
}

TEST(DisclaimerDocuments, EachIsACompleteDisclaimerInItsLanguage)
{
    for (const Document& d : kDocuments) {
        const QByteArray rtf = ReadSource(d.file);
        RtfReader r;
        r.Feed(rtf.constData(), static_cast<std::size_t>(rtf.size()));
        r.Finish();
        ASSERT_GE(r.Paragraphs().size(), 8u) << d.file;

        // A centred bold heading, then justified or left-aligned text.
        const RtfParagraph& heading = r.Paragraphs().front();
        EXPECT_EQ(QString::fromUtf8(d.heading), heading.Text()) << d.file;
        EXPECT_EQ(RtfAlignment::Center, heading.format.alignment) << d.file;
        ASSERT_FALSE(heading.runs.empty());
        EXPECT_TRUE(heading.runs.front().format.bold) << d.file;

        const QString text = r.PlainText();
        EXPECT_FALSE(text.contains(QChar(0xFFFD))) << d.file;
        EXPECT_FALSE(text.contains(QLatin1Char('?'))) << d.file << ": a fallback character shows";
        EXPECT_FALSE(text.contains(QLatin1Char('\\'))) << d.file << ": markup shows";
        EXPECT_GT(text.size(), 1000) << d.file;
    }
}

// The callback over a table with an empty line: whole lines one per call, or
// pieces of the offered size; never a byte beyond it; 0 at the null end.
TEST(DisclaimerDocuments, StreamInCallbackHandsOverLinesWithinTheOfferedSize)
{
    static const char* const table[] = {"abc", "defgh", "", "ij", nullptr};
    struct Case
    {
        std::int32_t offered;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {344, {"abc", "defgh", "ij"}},
        {5, {"abc", "defgh", "ij"}},
        {2, {"ab", "c", "de", "fg", "h", "ij"}},
        {1, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
    };
    for (const Case& c : cases) {
        g_nRtfLine = 0;
        g_nRtfLineOffset = 0;
        std::vector<std::string> got;
        for (int call = 0; call < 32; ++call) {
            std::array<std::uint8_t, 400> buffer;
            buffer.fill(0xAA);
            std::int32_t count = -1;
            ASSERT_EQ(0u, CAgreementDlg::StreamInCallback(reinterpret_cast<std::uintptr_t>(table),
                                                          buffer.data(), c.offered, &count));
            ASSERT_GE(count, 0);
            ASSERT_LE(count, c.offered);
            for (std::size_t i = static_cast<std::size_t>(c.offered); i < buffer.size(); ++i)
                ASSERT_EQ(0xAA, buffer[i]) << "written beyond the offered size " << c.offered;
            if (count == 0)
                break;
            got.emplace_back(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(count));
        }
        EXPECT_EQ(c.pieces, got) << "offered " << c.offered;
        EXPECT_EQ(4, g_nRtfLine) << "offered " << c.offered; // at the null end, and it stays there
    }
}

TEST(DisclaimerDocuments, StreamInCallbackGivesOneLinePerCall)
{
    g_nRtfLine = 0;
    g_nRtfLineOffset = 0;
    std::vector<std::uint8_t> buffer(4096);
    for (int i = 0; g_rtfEnglish[i]; ++i) {
        std::int32_t count = 0;
        CAgreementDlg::StreamInCallback(reinterpret_cast<std::uintptr_t>(g_rtfEnglish), buffer.data(), 4096,
                                        &count);
        ASSERT_EQ(std::string(g_rtfEnglish[i]),
                  std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(count)));
        ASSERT_EQ(i + 1, g_nRtfLine);
    }
}

// The generator run as the build runs it: a line of 344 bytes is taken, one of
// 345 fails with the place named; joining the lines gives the file back.
TEST(DisclaimerDocuments, GeneratorRefusesLinesLongerThanTheLimit)
{
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    ASSERT_FALSE(cmake.isEmpty());
    QTemporaryDir dir;
    auto run = [&](const QByteArray& content, QString& output, QByteArray& generated) {
        QFile in(dir.filePath(QStringLiteral("doc.rtf")));
        EXPECT_TRUE(in.open(QIODevice::WriteOnly | QIODevice::Truncate));
        in.write(content);
        in.close();
        const QString out = dir.filePath(QStringLiteral("out.cpp"));
        QFile::remove(out);
        QProcess p;
        p.start(cmake,
                {QStringLiteral("-DOUTPUT=") + out, QStringLiteral("-DDOCUMENTS=g_doc=") + in.fileName(),
                 QStringLiteral("-P"), QStringLiteral(KORVO_SOURCE_DIR "/res/rtf_line_table.cmake")});
        EXPECT_TRUE(p.waitForFinished(30000));
        output = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
        QFile g(out);
        generated = g.open(QIODevice::ReadOnly) ? g.readAll() : QByteArray();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };

    QString output;
    QByteArray generated;
    const QByteArray fits = "{\\rtf1 " + QByteArray(336, 'x') + "\n" + "\xe9;}\n"; // 344 bytes, then 4
    ASSERT_EQ(344, fits.indexOf('\n') + 1);
    EXPECT_EQ(0, run(fits, output, generated)) << output.toStdString();
    EXPECT_TRUE(generated.contains("g_doc[] = {\n    g_doc_0,\n    g_doc_1,\n    nullptr,\n};"))
        << generated.toStdString();
    EXPECT_TRUE(generated.contains("\"\\x7b\\x5c\\x72\\x74\\x66\\x31")); // "{\rtf1", escaped byte by byte
    EXPECT_TRUE(generated.contains("\"\\xe9\\x3b\\x7d\\x0a\";"));        // a high byte goes in unchanged

    const QByteArray tooLong = "{\\rtf1 a}\n" + QByteArray(344, 'x') + "\n";
    EXPECT_NE(0, run(tooLong, output, generated));
    EXPECT_TRUE(output.contains(QStringLiteral("doc.rtf:2 is 345 bytes long"))) << output.toStdString();
    EXPECT_TRUE(generated.isEmpty());
}

} // namespace
