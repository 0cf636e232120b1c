#include "panes/column_zone.h"

ColumnZone ClassifyColumn(int col)
{
    if (col < 0)
        return ColumnZone::None;
    if (col <= 7)
        return ColumnZone::Offset;
    if (col <= 9)
        return ColumnZone::None;
    if (col <= 32)
        return ColumnZone::HexGroup1;
    if (col <= 34)
        return ColumnZone::Gap;
    if (col <= 57)
        return ColumnZone::HexGroup2;
    if (col <= 59)
        return ColumnZone::None;
    if (col <= 76)
        return ColumnZone::Text;
    return ColumnZone::None;
}

int ColumnToByte(int col)
{
    switch (ClassifyColumn(col)) {
    case ColumnZone::HexGroup1:
        return (col - HEX_COL_GROUP1) / 3;
    case ColumnZone::HexGroup2:
        return (col - HEX_COL_GROUP2) / 3 + 8;
    case ColumnZone::Text:
        return col - HEX_COL_TEXT;
    default:
        return 0;
    }
}

int ByteToColumn(ColumnZone zone, int i)
{
    if (IsHexZone(zone))
        return i < 8 ? 3 * i + 10 : 3 * i + 11;
    if (zone == ColumnZone::Text)
        return HEX_COL_TEXT + i;
    return HEX_COL_GROUP1;
}

bool IsStopColumn(int col)
{
    const ColumnZone zone = ClassifyColumn(col);
    if (zone == ColumnZone::Text)
        return true;
    if (IsHexZone(zone)) {
        const int high = ByteToColumn(zone, ColumnToByte(col));
        return col == high || col == high + 1;
    }
    return false;
}
