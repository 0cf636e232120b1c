#pragma once

// The texts of the send-progress window and the arithmetic of its bar, apart
// from the widgets that show them.
#include <QString>

#include <cstdint>

// The time text before the first chunk of a transfer has gone out.
inline constexpr char START_TIME_TEXT[] = "00 : 00 : 00 000";

// The fraction shown, in percent and in single precision: position over the
// upper bound of the range (lower bound 0), 0 for an empty range. The position
// is not clamped, so it may exceed 100.
float ProgressPercent(int pos, int upper);
// "0%" for exactly 0, else one decimal ("0.0%" for a tiny but nonzero fraction).
QString PercentText(float percent);
// The column where the filled part ends, for a client area `width` pixels
// wide: truncated toward zero, past the right edge above 100 %.
int SplitColumn(int width, float percent);

// "sent / total".
QString CountText(int count, int total);
// "[hh:mm:ss mmm]" for a span of `ticks` of a clock with `frequency` ticks a
// second.
QString ElapsedTimeText(std::int64_t ticks, std::int64_t frequency);
