#include "progress/progress_text.h"

float ProgressPercent(int pos, int upper)
{
    if (upper == 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(pos) / upper * 100.0);
}

QString PercentText(float percent)
{
    if (percent == 0.0f)
        return QStringLiteral("0%");
    return QString::asprintf("%.1f%%", static_cast<double>(percent));
}

int SplitColumn(int width, float percent)
{
    return static_cast<int>(static_cast<float>(width) * percent / 100.0f);
}

QString CountText(int count, int total)
{
    return QString::asprintf("%d / %d", count, total);
}

QString ElapsedTimeText(std::int64_t ticks, std::int64_t frequency)
{
    const double t = static_cast<double>(ticks) / static_cast<double>(frequency);
    const int s = static_cast<int>(t);
    const int ms = static_cast<int>(t * 1000 - s * 1000.0);
    return QString::asprintf("[%02d:%02d:%02d %03d]", s / 3600, (s / 60) % 60, s % 60, ms);
}
