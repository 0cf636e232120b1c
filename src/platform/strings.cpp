#include "platform/strings.h"

#include "string_tables.h"

#include <optional>

namespace {

std::optional<UiLanguage>& ActiveLanguage()
{
    static std::optional<UiLanguage> language;
    return language;
}

std::span<const StringEntry> TableFor(UiLanguage language)
{
    switch (language) {
    case UiLanguage::Korean:
        return KoreanStringTable();
    case UiLanguage::ChineseSimplified:
        return ChineseStringTable();
    case UiLanguage::English:
        break;
    }
    return EnglishStringTable();
}

} // namespace

UiLanguage ActiveStringLanguage()
{
    if (!ActiveLanguage())
        ActiveLanguage() = UserInterfaceLanguage();
    return *ActiveLanguage();
}

void ReloadStringLanguageFromEnvironment()
{
    ActiveLanguage() = UserInterfaceLanguage();
}

QString LoadStr(int id, UiLanguage language)
{
    // Ids are dense (101-148) and sorted, but a search keeps gaps harmless.
    for (const StringEntry& e : TableFor(language)) {
        if (e.id == id)
            return QString::fromUtf8(e.text);
    }
    return {};
}

QString LoadStr(int id)
{
    return LoadStr(id, ActiveStringLanguage());
}
