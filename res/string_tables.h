#pragma once

// The program's three string tables. Ids 101-149; every table holds every id.
#include <span>

struct StringEntry {
    int id;
    const char* text; // UTF-8
};

std::span<const StringEntry> EnglishStringTable();
std::span<const StringEntry> KoreanStringTable();
std::span<const StringEntry> ChineseStringTable();
