#pragma once

// Which language the program speaks, read from the environment the way a
// desktop session sets it up.
#include <cstdint>
#include <string_view>

enum class UiLanguage { English, Korean, ChineseSimplified };

// Primary language ids, as the low byte of a language identifier.
enum : std::uint8_t {
    LANG_CHINESE = 0x04,
    LANG_ENGLISH = 0x09,
    LANG_FRENCH = 0x0C,
    LANG_KOREAN = 0x12,
};

// "ko", "ko_KR.UTF-8" -> Korean; "zh_CN", "zh_SG", "zh-Hans", "zh" -> Simplified
// Chinese; everything else (including zh_TW) -> English.
UiLanguage UiLanguageFromLocaleName(std::string_view name);

// The string-table language: the first of LANGUAGE (its first entry), LC_ALL,
// LC_MESSAGES and LANG that is set and not empty.
UiLanguage UserInterfaceLanguage();

// The system default language identifier (primary language in the low byte,
// sub-language above it), from LC_ALL, else LANG. English when neither names
// a language we know.
std::uint16_t LanguageIdFromLocaleName(std::string_view name);
std::uint16_t SystemDefaultLangId();

// True when the system default language is Korean; windows then use the Korean font.
bool IsKoreanSystem();
