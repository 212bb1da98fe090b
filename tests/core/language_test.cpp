#include "config/language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "config/ini_file.h"
#include "support/temp_dir.h"

using fd::GetLangText;
using fd::test::TempDir;

namespace {

// Sets locale variables for one test and puts the old values back afterwards.
class LocaleEnv {
public:
    LocaleEnv(const char* lcAll, const char* lcMessages, const char* lang) {
        Set("LC_ALL", lcAll);
        Set("LC_MESSAGES", lcMessages);
        Set("LANG", lang);
    }
    ~LocaleEnv() {
        for (auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    std::map<std::string, std::optional<std::string>> m_saved;
};

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_dir.Write("Languages/Language.ini", "[LCID]\n2052=Chinese\n1033=English\n1031=\n");
        m_dir.Write("Languages/Chinese.lng",
                    "[ProgramOutStr]\n"
                    "online=在线\n"
                    "Two Lines=first\\nsecond\n"
                    "Crlf=a\\r\\nb\n"
                    "Blank=[~Null~]\n"
                    "Nothing=[~NullInfoChrys~]\n"
                    "Mixed=x\\\\ny\n"
                    "Empty=\n"
                    "Count:%d=数量：%d\n"
                    "Long=" +
                        std::string(1500, 'z') + "\n");
    }
    void TearDown() override {
        // Later tests in this process must not inherit this test's language.
        LocaleEnv english(nullptr, nullptr, "C");
        fd::InitLanguage(m_dir.Dir());
    }
    TempDir m_dir;
};

TEST_F(LanguageTest, ChineseLocaleTranslatesThroughTheMap) {
    LocaleEnv env(nullptr, nullptr, "zh_CN.UTF-8");
    EXPECT_EQ(fd::InitLanguage(m_dir.Dir()), 1);
    EXPECT_EQ(fd::GetSystemLocaleId(), 2052u);
    EXPECT_EQ(fd::GetLanguageFilePath(), m_dir.Dir() + "Languages/Chinese.lng");
    EXPECT_EQ(GetLangText("Online"), "在线");  // key case differs from the file's
    EXPECT_EQ(GetLangText("ONLINE"), "在线");
    EXPECT_EQ(GetLangText("Count:%d"), "数量：%d");
    EXPECT_EQ(GetLangText("Not in the file"), "Not in the file");
    EXPECT_EQ(GetLangText("Empty"), "Empty");  // an empty value counts as missing
    EXPECT_EQ(GetLangText(""), "");
    EXPECT_EQ(GetLangText(static_cast<const char*>(nullptr)), "");
}

TEST_F(LanguageTest, EscapesAreReplacedInOrder) {
    LocaleEnv env(nullptr, nullptr, "zh_CN");
    fd::InitLanguage(m_dir.Dir());
    EXPECT_EQ(GetLangText("Two Lines"), "first\nsecond");
    EXPECT_EQ(GetLangText("Crlf"), "a\r\nb");
    EXPECT_EQ(GetLangText("Blank"), " ");
    EXPECT_EQ(GetLangText("Nothing"), "");
    // "x\\ny": the \n escape is found after the first backslash.
    EXPECT_EQ(GetLangText("Mixed"), "x\\\ny");
    // Keys that are not translated get the same treatment.
    EXPECT_EQ(GetLangText("one\\ntwo[~Null~]three[~NullInfoChrys~]"), "one\ntwo three");
    // The \r\n pair goes first, so it is not left as a carriage-return escape plus a newline.
    EXPECT_EQ(fd::ApplyLangEscapes("\\r\\n\\n"), "\r\n\n");
    // [~Null~] inside [~NullInfoChrys~] does not exist; the longer marker wins by order.
    EXPECT_EQ(fd::ApplyLangEscapes("[~NullInfoChrys~][~Null~]"), " ");
}

TEST_F(LanguageTest, ValuesAreCutAt1023Characters) {
    LocaleEnv env(nullptr, nullptr, "zh_CN");
    fd::InitLanguage(m_dir.Dir());
    EXPECT_EQ(GetLangText("Long"), std::string(1023, 'z'));
}

TEST_F(LanguageTest, LocalesWithoutAnEntryUseEnglish) {
    {
        LocaleEnv env(nullptr, nullptr, "fr_FR.UTF-8");  // 1036: not in the map
        fd::InitLanguage(m_dir.Dir());
        EXPECT_EQ(fd::GetSystemLocaleId(), 1033u);
        EXPECT_EQ(fd::GetLanguageFilePath(), m_dir.Dir() + "Languages/English.lng");
        EXPECT_EQ(GetLangText("Online"), "Online");
    }
    {
        LocaleEnv env(nullptr, nullptr, "de_DE");  // present with an empty value
        EXPECT_EQ(fd::GetSystemLanguageName(), "English");
        EXPECT_EQ(fd::GetSystemLocaleId(), 1033u);
    }
    {
        TempDir bare;  // no Languages folder at all
        LocaleEnv env(nullptr, nullptr, "zh_CN");
        fd::InitLanguage(bare.Dir());
        EXPECT_EQ(fd::GetSystemLocaleId(), 1033u);
        EXPECT_EQ(GetLangText("Online"), "Online");
    }
}

TEST_F(LanguageTest, SetLanguageWithAnEmptyNameMeansEnglish) {
    LocaleEnv env(nullptr, nullptr, "zh_CN");
    fd::InitLanguage(m_dir.Dir());
    fd::SetLanguage("");
    EXPECT_EQ(fd::GetLanguageFilePath(), m_dir.Dir() + "Languages/English.lng");
    EXPECT_EQ(GetLangText("Online"), "Online");
    fd::SetLanguage("Chinese");
    EXPECT_EQ(GetLangText("Online"), "在线");
}

TEST_F(LanguageTest, LookupsFromManyThreadsAgree) {
    LocaleEnv env(nullptr, nullptr, "zh_CN");
    fd::InitLanguage(m_dir.Dir());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                if (GetLangText("online") != "在线" || GetLangText("x") != "x") ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(LocaleIdTest, PosixNamesMapToWindowsIds) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"en_US", 1033},
        {"en_GB.UTF-8", 2057},
        {"zh_CN.UTF-8", 2052},
        {"zh_TW", 1028},
        {"zh_HK.Big5", 3076},
        {"de_DE@euro", 1031},
        {"de_DE.UTF-8@euro", 1031},
        {"fr_FR", 1036},
        {"es_ES", 3082},
        {"it_IT", 1040},
        {"pt_BR", 1046},
        {"ru_RU.KOI8-R", 1049},
        {"ja_JP.eucJP", 1041},
        {"ko_KR", 1042},
        {"tr_TR", 1055},
        {"pl_PL", 1045},
        {"zh", 2052},
        {"zh_XX", 2052},
        {"zh_cn", 2052},
        {"zh-CN", 2052},
        {"de", 1031},
        {"C", 1033},
        {"C.UTF-8", 1033},
        {"POSIX", 1033},
        {"", 1033},
        {"xx_YY", 1033},
        {"@", 1033},
    };
    for (const auto& [name, id] : cases) EXPECT_EQ(fd::LocaleIdFromName(name), id) << name;
}

TEST(LocaleIdTest, FirstNonEmptyVariableWins) {
    {
        LocaleEnv env("de_DE", "fr_FR", "zh_CN");
        EXPECT_EQ(fd::ReadSystemLocaleId(), 1031u);
    }
    {
        LocaleEnv env("", "fr_FR", "zh_CN");
        EXPECT_EQ(fd::ReadSystemLocaleId(), 1036u);
    }
    {
        LocaleEnv env(nullptr, "", "zh_CN");
        EXPECT_EQ(fd::ReadSystemLocaleId(), 2052u);
    }
    {
        LocaleEnv env(nullptr, nullptr, nullptr);
        EXPECT_EQ(fd::ReadSystemLocaleId(), 1033u);
    }
}

// ---- The language files that ship with the program ----

std::string SourceDir() {
    const char* dir = std::getenv("FD_SOURCE_DIR");
    return dir ? std::string(dir) + "/" : std::string();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The printf conversions of a text, in order ("%d", "%s", ...); "%%" is not one.
std::vector<std::string> Conversions(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && std::strchr("-+ #0123456789.hlLqjzt", text[j])) ++j;
        out.push_back(text.substr(i, j + 1 - i));  // up to and including the conversion
        i = j;
    }
    return out;
}

// The literal texts passed directly to GetLangText("...") in a source file.
std::vector<std::string> LiteralLangKeys(const std::string& src) {
    std::vector<std::string> keys;
    const std::string fn = "GetLangText";
    for (std::size_t at = src.find(fn); at != std::string::npos; at = src.find(fn, at + 1)) {
        std::size_t i = at + fn.size();
        auto skipBlanks = [&] {
            while (i < src.size() && std::isspace(static_cast<unsigned char>(src[i]))) ++i;
        };
        skipBlanks();
        if (i >= src.size() || src[i] != '(') continue;
        ++i;
        skipBlanks();
        if (src.compare(i, 2, "u8") == 0) i += 2;
        if (i >= src.size() || src[i] != '"') continue;
        std::string key;
        bool escaped = false;
        for (++i; i < src.size() && src[i] != '"' && src[i] != '\n'; ++i) {
            if (src[i] == '\\') escaped = true;
            key += src[i];
            if (src[i] == '\\' && i + 1 < src.size()) key += src[++i];
        }
        if (i >= src.size() || src[i] != '"') continue;
        ++i;
        skipBlanks();
        if (i < src.size() && src[i] == ')' && !escaped) keys.push_back(key);
    }
    return keys;
}

class ShippedLanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (SourceDir().empty()) GTEST_SKIP() << "FD_SOURCE_DIR not set (run through ctest)";
        m_res = SourceDir() + "resources/";
        m_keys.clear();
        for (const auto& line : ReadLines(m_res + "Languages/keys.txt")) {
            if (!line.empty()) m_keys.push_back(line);
        }
    }
    std::string Chinese(const std::string& key) {
        return fd::ReadProfileString(m_res + "Languages/Chinese.lng", "ProgramOutStr", key, "",
                                     1024);
    }
    std::string m_res;
    std::vector<std::string> m_keys;
};

TEST_F(ShippedLanguageTest, ChineseCoversEveryKeyWithTheSameFormatConversions) {
    ASSERT_GT(m_keys.size(), 200u) << "keys.txt missing or truncated";
    for (const auto& key : m_keys) {
        const std::string value = Chinese(key);
        EXPECT_FALSE(value.empty()) << "no Chinese text for: " << key;
        // A translation with other conversions than its key would crash the formatting.
        EXPECT_EQ(Conversions(value), Conversions(key)) << key;
    }
}

TEST_F(ShippedLanguageTest, ChineseFileHasNoDuplicateOrStrayKeys) {
    // Duplicates would be ignored silently (the first one wins); keys that the program never
    // asks for are usually misspellings of keys it does.
    std::set<std::string> wanted;
    for (const auto& k : m_keys) wanted.insert(k);
    std::set<std::string> seen;
    bool inSection = false;
    for (const auto& line : ReadLines(m_res + "Languages/Chinese.lng")) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            inSection = line == "[ProgramOutStr]";
            continue;
        }
        ASSERT_TRUE(inSection) << line;
        const auto eq = line.find('=');
        ASSERT_NE(eq, std::string::npos) << line;
        std::string key = line.substr(0, eq);
        std::string lower = key;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(seen.insert(lower).second) << "duplicate key: " << key;
        EXPECT_TRUE(wanted.count(key)) << "key not in keys.txt: " << key;
    }
}

TEST_F(ShippedLanguageTest, KeysPassedLiterallyInTheSourcesAreListed) {
    // keys.txt is generated by scripts/lang_keys.py; this catches a new GetLangText("...")
    // whose text was never added to the list (and so never translated).
    std::set<std::string> listed;
    for (const auto& k : m_keys) {
        std::string lower = k;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        listed.insert(lower);
    }
    std::size_t found = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(SourceDir() + "src")) {
        const auto ext = e.path().extension();
        if (ext != ".cpp" && ext != ".h") continue;
        std::ifstream in(e.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        // Keys with escapes are left to scripts/lang_keys.py, which unescapes them.
        for (const std::string& key : LiteralLangKeys(text)) {
            ++found;
            std::string lower = key;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            EXPECT_TRUE(listed.count(lower))
                << e.path() << ": \"" << key
                << "\" is not in resources/Languages/keys.txt (run scripts/lang_keys.py)";
        }
    }
    RecordProperty("literal_keys", static_cast<int>(found));
}

TEST_F(ShippedLanguageTest, ShippedFilesWorkThroughTheLookup) {
    LocaleEnv env(nullptr, nullptr, "zh_CN.UTF-8");
    fd::InitLanguage(m_res);
    EXPECT_EQ(GetLangText("Outline"), "离线");
    EXPECT_EQ(GetLangText("On2"), "开");
    EXPECT_EQ(GetLangText("Off2"), "关");
    EXPECT_EQ(GetLangText("Help_url").rfind("https://www.example.com/", 0), 0u);
    {
        LocaleEnv en(nullptr, nullptr, "en_US.UTF-8");
        fd::InitLanguage(m_res);
        EXPECT_EQ(GetLangText("On2"), "On");
        EXPECT_EQ(GetLangText("Off2"), "Off");
        for (const char* key : {"Product_url", "Support_url", "Contact_url", "Help_url"}) {
            EXPECT_EQ(GetLangText(key).rfind("https://www.example.com/", 0), 0u) << key;
        }
        EXPECT_EQ(GetLangText("Outline"), "Outline");
    }
    LocaleEnv c(nullptr, nullptr, "C");
    fd::InitLanguage(m_res);
}

}  // namespace
