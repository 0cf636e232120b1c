#pragma once

// The column map of a rendered pane row, on which the caret and every editing
// rule rest. A row is 78 positions: offset (0-9), two hex groups of eight
// bytes (10-33, 35-58), a bar (59), sixteen text characters (60-75) and the
// line break (76-77), which counts two positions.

enum {
    HEX_ROW_CHARS = 78,
    HEX_BYTES_PER_LINE = 16,
    HEX_COL_GROUP1 = 10,
    HEX_COL_GROUP2 = 35,
    HEX_COL_BAR = 59,
    HEX_COL_TEXT = 60,
    HEX_COL_TEXT_STOP = 76,
};

enum class ColumnZone {
    None,
    Offset,
    HexGroup1,
    Gap,
    HexGroup2,
    Text,
};

ColumnZone ClassifyColumn(int col);

inline bool IsHexZone(ColumnZone zone)
{
    return zone == ColumnZone::HexGroup1 || zone == ColumnZone::HexGroup2;
}

// The byte within its line that a column stands for (16 at the text stop).
int ColumnToByte(int col);

// The column of byte i: its high-nibble digit on the hex side, its character
// on the text side; column 10 for any other zone.
int ByteToColumn(ColumnZone zone, int i);

// True on the columns the caret may rest on: either digit of a byte, a text
// character, or the text stop.
bool IsStopColumn(int col);
