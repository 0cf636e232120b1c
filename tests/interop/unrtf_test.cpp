// Our documents read by an RTF reader we did not write: Debian's unrtf must
// find the same text in each as ours does.
#include "disclaimer_documents.h"
#include "ui/rtf_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

QString Normalised(QString text)
{
    return text.simplified();
}

// Where two texts part, with a little of each from there on.
std::string FirstDifference(const QString& a, const QString& b)
{
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    if (i == a.size() && i == b.size())
        return {};
    const qsizetype from = std::max<qsizetype>(0, i - 30);
    return "at " + std::to_string(i) + ":\n  ours:   ..." + a.mid(from, 80).toStdString() +
           "\n  unrtf:  ..." + b.mid(from, 80).toStdString();
}

// unrtf's text output drops every character beyond ASCII unless its output
// description says how to print one; ours prints it as a numeric reference.
QString UnrtfConfigDir(const QTemporaryDir& dir)
{
    QFile base(QStringLiteral("/usr/share/unrtf/text.conf"));
    EXPECT_TRUE(base.open(QIODevice::ReadOnly));
    QFile conf(dir.filePath(QStringLiteral("text.conf")));
    EXPECT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(base.readAll());
    conf.write("unisymbol_print\n\t&#%;\n");
    return dir.path();
}

QString UnrtfText(const QString& file, const QString& configDir)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), {QStringLiteral("20"), QStringLiteral("unrtf"), QStringLiteral("-P"),
                                        configDir, QStringLiteral("--text"), file});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(0, p.exitCode()) << p.readAllStandardError().toStdString();
    QString out = QString::fromLatin1(p.readAllStandardOutput());

    // Its header: comment lines starting with ###, then a rule of dashes.
    const qsizetype rule = out.indexOf(QStringLiteral("-----------------\n"));
    EXPECT_GE(rule, 0) << out.toStdString();
    out = out.mid(rule + 18);

    static const QRegularExpression ref(QStringLiteral("&#(\\d+);"));
    QString decoded;
    qsizetype last = 0;
    for (auto it = ref.globalMatch(out); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        decoded += out.mid(last, m.capturedStart() - last);
        decoded += QChar(char16_t(m.captured(1).toUInt()));
        last = m.capturedEnd();
    }
    decoded += out.mid(last);
    return decoded;
}

TEST(Interop, UnrtfReadsTheSameTextInOurDocuments)
{
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("unrtf")).isEmpty())
        << "unrtf is not installed";
    QTemporaryDir dir;
    const QString configDir = UnrtfConfigDir(dir);

    const struct
    {
        const char* name;
        const char* const* table;
    } documents[] = {{"ko", g_rtfKorean}, {"en", g_rtfEnglish}, {"fr", g_rtfFrench}};
    for (const auto& d : documents) {
        // Ours reads the table as the program carries it; unrtf reads the file
        // (the same bytes, checked elsewhere).
        RtfReader reader;
        for (const char* const* line = d.table; *line; ++line)
            reader.Feed(*line, std::strlen(*line));
        reader.Finish();

        const QString file =
            QStringLiteral(KORVO_SOURCE_DIR "/res/disclaimer_%1.rtf").arg(QLatin1String(d.name));
        const QString theirs = Normalised(UnrtfText(file, configDir));
        const QString ours = Normalised(reader.PlainText());
        EXPECT_GT(ours.size(), 1000) << d.name;
        EXPECT_EQ("", FirstDifference(ours, theirs)) << d.name;
    }
}

} // namespace
