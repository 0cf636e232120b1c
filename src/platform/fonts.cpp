#include "platform/fonts.h"

#include "platform/language.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>

namespace {

const char* const kKoreanFace = "굴림체";

// A font's height in logical units is its cell height (ascent plus descent);
// find the pixel size whose cell is that high.
QFont FontWithCellHeight(const QString& face, int cellHeight)
{
    QFont font(face);
    font.setPixelSize(cellHeight);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::TypeWriter);
    const int measured = QFontMetrics(font).height();
    if (measured > cellHeight) {
        const int scaled = cellHeight * cellHeight / measured;
        font.setPixelSize(scaled > 0 ? scaled : 1);
    }
    return font;
}

QString FirstInstalled(const QStringList& families)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString& f : families) {
        if (installed.contains(f, Qt::CaseInsensitive))
            return f;
    }
    return {};
}

} // namespace

QFont CreateKoreanFont()
{
    return FontWithCellHeight(QString::fromUtf8(kKoreanFace), 13);
}

QFont CreateDefaultFont()
{
    return FontWithCellHeight(QStringLiteral("Courier New"), 14);
}

QFont FontForSystemLanguage(const QFont& korean, const QFont& fallback)
{
    return IsKoreanSystem() ? korean : fallback;
}

void SendFontToDescendants(QWidget* root, const QFont& font)
{
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children)
        w->setFont(font);
}

void InstallFontSubstitutions()
{
    const QStringList installed = QFontDatabase::families();
    const QString korean = QString::fromUtf8(kKoreanFace);
    if (!installed.contains(korean) && !installed.contains(QStringLiteral("GulimChe"))) {
        const QString sub = FirstInstalled({"NanumGothicCoding", "D2Coding", "Noto Sans Mono CJK KR",
                                            "WenQuanYi Zen Hei Mono", "Noto Sans CJK KR", "WenQuanYi Zen Hei",
                                            "NanumGothic"});
        if (!sub.isEmpty())
            QFont::insertSubstitution(korean, sub);
    }
    if (!installed.contains(QStringLiteral("Courier New"))) {
        const QString sub = FirstInstalled({"Liberation Mono", "Cousine", "DejaVu Sans Mono"});
        if (!sub.isEmpty())
            QFont::insertSubstitution(QStringLiteral("Courier New"), sub);
    }
    if (!installed.contains(QStringLiteral("MS Shell Dlg"))) {
        const QString sub = FirstInstalled({"Liberation Sans", "DejaVu Sans"});
        if (!sub.isEmpty())
            QFont::insertSubstitution(QStringLiteral("MS Shell Dlg"), sub);
    }
}
