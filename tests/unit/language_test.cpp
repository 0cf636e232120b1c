// String tables and the language rules that pick them and the fonts.
#include "platform/fonts.h"
#include "platform/language.h"
#include "platform/strings.h"
#include "string_tables.h"

#include <gtest/gtest.h>

#include <set>

#include <QFontInfo>
#include <QFontMetrics>

#include <cstdlib>

namespace {

void SetEnv(const char* name, const char* value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

struct Env {
    const char* language;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    void Apply() const
    {
        SetEnv("LANGUAGE", language);
        SetEnv("LC_ALL", lcAll);
        SetEnv("LC_MESSAGES", lcMessages);
        SetEnv("LANG", lang);
    }
};

} // namespace

TEST(StringTables, EveryIdInEveryTable)
{
    for (auto language : {UiLanguage::English, UiLanguage::Korean, UiLanguage::ChineseSimplified}) {
        for (int id = 101; id <= 149; ++id)
            EXPECT_FALSE(LoadStr(id, language).isEmpty()) << "id " << id << " language " << int(language);
        EXPECT_TRUE(LoadStr(100, language).isEmpty());
        EXPECT_TRUE(LoadStr(150, language).isEmpty());
    }
    // The additions' texts take ids from 200 up, and every table has each.
    std::set<int> ids[3];
    int table = 0;
    for (const auto& entries : {EnglishStringTable(), KoreanStringTable(), ChineseStringTable()}) {
        for (const auto& entry : entries) {
            EXPECT_TRUE((entry.id >= 101 && entry.id <= 149) || entry.id >= 200) << entry.id;
            ids[table].insert(entry.id);
        }
        ++table;
    }
    EXPECT_EQ(ids[0], ids[1]);
    EXPECT_EQ(ids[0], ids[2]);
}

TEST(StringTables, ExactTexts)
{
    struct Case {
        UiLanguage language;
        int id;
        const char* text;
    } cases[] = {
        {UiLanguage::English, 101, "&About Korvo..."},
        {UiLanguage::English, 104, "Korvo v1.4A (2013/05/31)"},
        {UiLanguage::English, 127, "Do you want to exit program?"},
        {UiLanguage::English, 144, "I accept the terms in the exemption from liability."},
        {UiLanguage::English, 148, "Franch"},
        {UiLanguage::Korean, 101, "Korvo 정보.(&A)..."},
        {UiLanguage::Korean, 118, "접속 하기"},
        {UiLanguage::Korean, 127, "프로그램을 종료 하시겠습니까?"},
        {UiLanguage::Korean, 143, "No operation"},
        {UiLanguage::ChineseSimplified, 101, "Korvo信息(&A)…"},
        {UiLanguage::ChineseSimplified, 105, "接收 "}, // ends with a blank
        {UiLanguage::ChineseSimplified, 125, "Telnet"},
        {UiLanguage::ChineseSimplified, 127, "确定要结束程序吗？"},
        {UiLanguage::ChineseSimplified, 148, "Franch"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QString::fromUtf8(c.text), LoadStr(c.id, c.language)) << c.id;
}

TEST(Language, UserInterfaceLanguageFromEnvironment)
{
    struct Case {
        Env env;
        UiLanguage expected;
    } cases[] = {
        {{nullptr, nullptr, nullptr, nullptr}, UiLanguage::English},
        {{nullptr, nullptr, nullptr, "ko_KR.UTF-8"}, UiLanguage::Korean},
        {{"ko", nullptr, nullptr, "en_US.UTF-8"}, UiLanguage::Korean},
        {{"ko:en_US", nullptr, nullptr, nullptr}, UiLanguage::Korean},
        {{"", "zh_CN.UTF-8", nullptr, "ko_KR.UTF-8"}, UiLanguage::ChineseSimplified}, // empty is unset
        {{nullptr, nullptr, "zh_SG", "en_US"}, UiLanguage::ChineseSimplified},
        {{"zh-Hans", nullptr, nullptr, nullptr}, UiLanguage::ChineseSimplified},
        {{"zh", nullptr, nullptr, nullptr}, UiLanguage::ChineseSimplified},
        {{"zh_TW", nullptr, nullptr, "zh_CN"}, UiLanguage::English},
        {{nullptr, "fr_FR.UTF-8", nullptr, "ko_KR"}, UiLanguage::English},
        {{nullptr, "C", nullptr, nullptr}, UiLanguage::English},
        {{nullptr, nullptr, nullptr, "kok_IN"}, UiLanguage::English}, // Konkani, not Korean
    };
    for (const Case& c : cases) {
        c.env.Apply();
        EXPECT_EQ(c.expected, UserInterfaceLanguage())
            << (c.env.language ? c.env.language : "-") << " " << (c.env.lcAll ? c.env.lcAll : "-") << " "
            << (c.env.lcMessages ? c.env.lcMessages : "-") << " " << (c.env.lang ? c.env.lang : "-");
    }
}

TEST(Language, SystemLanguageIgnoresTheMessagesLanguage)
{
    struct Case {
        Env env;
        std::uint16_t langId;
        bool korean;
    } cases[] = {
        {{"ko", nullptr, "ko_KR", "en_US.UTF-8"}, 0x0409, false},
        {{nullptr, nullptr, nullptr, "ko_KR.UTF-8"}, 0x0412, true},
        {{nullptr, "ko_KR.UTF-8", nullptr, "en_US"}, 0x0412, true},
        {{nullptr, "en_US.UTF-8", nullptr, "ko_KR"}, 0x0409, false},
        {{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, 0x0804, false},
        {{nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, 0x040C, false},
        {{nullptr, nullptr, nullptr, nullptr}, 0x0409, false},
    };
    for (const Case& c : cases) {
        c.env.Apply();
        EXPECT_EQ(c.langId, SystemDefaultLangId());
        EXPECT_EQ(c.korean, IsKoreanSystem());
    }
}

TEST(Language, ActiveTableFollowsTheEnvironment)
{
    Env{"ko", nullptr, nullptr, nullptr}.Apply();
    ReloadStringLanguageFromEnvironment();
    EXPECT_EQ(QString::fromUtf8("대기 중"), LoadStr(121));
    Env{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}.Apply();
    ReloadStringLanguageFromEnvironment();
    EXPECT_EQ(QString::fromUtf8("等待中"), LoadStr(121));
    Env{nullptr, nullptr, nullptr, "de_DE.UTF-8"}.Apply();
    ReloadStringLanguageFromEnvironment();
    EXPECT_EQ("Ready", LoadStr(121));
}

TEST(Fonts, ChosenBySystemLanguageWhateverTheTableLanguage)
{
    const QFont korean = CreateKoreanFont();
    const QFont fallback = CreateDefaultFont();
    EXPECT_EQ(QString::fromUtf8("굴림체"), korean.family());
    EXPECT_EQ("Courier New", fallback.family());
    EXPECT_EQ(QFont::Normal, korean.weight());
    EXPECT_FALSE(fallback.italic() || fallback.underline() || fallback.strikeOut());
    // Heights are cell heights: the faces must fit within 13 and 14 pixels.
    EXPECT_LE(QFontMetrics(korean).height(), 13 + 1);
    EXPECT_LE(QFontMetrics(fallback).height(), 14 + 1);

    Env{"en", nullptr, nullptr, "ko_KR.UTF-8"}.Apply();
    EXPECT_EQ(korean.family(), FontForSystemLanguage(korean, fallback).family());
    Env{"ko", nullptr, nullptr, "en_US.UTF-8"}.Apply();
    EXPECT_EQ(fallback.family(), FontForSystemLanguage(korean, fallback).family());
}

TEST(Fonts, KoreanFaceShowsHangulWhereItIsMissing)
{
    // The Korean face rarely exists here; a substitute must supply Hangul.
    const QFont korean = CreateKoreanFont();
    EXPECT_TRUE(QFontMetrics(korean).inFont(QChar(0xC811))) << QFontInfo(korean).family().toStdString();
}
