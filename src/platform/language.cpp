#include "platform/language.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "ko_KR.UTF-8@euro" -> "ko_kr"; a LANGUAGE list "ko:en" -> "ko".
std::string LocaleStem(std::string_view name)
{
    std::string s = Lower(name);
    const auto cut = s.find_first_of(":.@");
    if (cut != std::string::npos)
        s.resize(cut);
    return s;
}

std::string_view FirstSetVariable(std::initializer_list<const char*> names)
{
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (v && *v)
            return v;
    }
    return {};
}

bool StartsWith(const std::string& s, std::string_view prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

UiLanguage UiLanguageFromLocaleName(std::string_view name)
{
    const std::string s = LocaleStem(name);
    if (s == "ko" || StartsWith(s, "ko_") || StartsWith(s, "ko-"))
        return UiLanguage::Korean;
    if (s == "zh" || s == "zh_cn" || s == "zh-cn" || s == "zh_sg" || s == "zh-sg" || StartsWith(s, "zh-hans") ||
        StartsWith(s, "zh_hans"))
        return UiLanguage::ChineseSimplified;
    return UiLanguage::English;
}

UiLanguage UserInterfaceLanguage()
{
    return UiLanguageFromLocaleName(FirstSetVariable({"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}));
}

std::uint16_t LanguageIdFromLocaleName(std::string_view name)
{
    const std::string s = LocaleStem(name);
    switch (UiLanguageFromLocaleName(s)) {
    case UiLanguage::Korean:
        return 0x0412;
    case UiLanguage::ChineseSimplified:
        return 0x0804;
    case UiLanguage::English:
        break;
    }
    if (StartsWith(s, "zh"))
        return 0x0404; // Chinese, traditional
    if (s == "fr" || StartsWith(s, "fr_") || StartsWith(s, "fr-"))
        return 0x040C;
    return 0x0409;
}

std::uint16_t SystemDefaultLangId()
{
    return LanguageIdFromLocaleName(FirstSetVariable({"LC_ALL", "LANG"}));
}

bool IsKoreanSystem()
{
    return (SystemDefaultLangId() & 0xFF) == LANG_KOREAN;
}
