// Writes the program icon into a hicolor tree at the given sizes:
//   icon_sizes SOURCE.png OUTDIR NAME SIZE...  ->  OUTDIR/SIZExSIZE/apps/NAME.png
// Only ever scales down: a larger size made from a small picture is only a blur.
#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SOURCE.png OUTDIR NAME SIZE...\n", argv[0]);
        return 2;
    }
    const QImage source = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
    if (source.isNull()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || size > source.width() || size > source.height()) {
            std::fprintf(stderr, "%s: size %s is not between 1 and the source's %dx%d\n", argv[0], argv[i],
                         source.width(), source.height());
            return 1;
        }
        const QImage icon = source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !icon.save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
