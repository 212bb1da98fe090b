#include "config/language.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "config/ini_file.h"

namespace fd {
namespace {

constexpr std::size_t kLangValueBuffer = 1024;  // values of up to 1023 characters
constexpr const char* kLangSection = "ProgramOutStr";

struct LanguageState {
    std::mutex mutex;
    std::string baseDir;
    std::string name = "English";
    std::string filePath;
};

LanguageState& State() {
    static LanguageState state;
    return state;
}

std::atomic<uint32_t> g_localeId{kLocaleEnglishUs};

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

struct LocaleEntry {
    const char* name;  // "ll_RR" or "ll" for the language's usual region
    uint32_t lcid;
};

// Windows locale ids of the locales a user of this program is likely to run.
constexpr LocaleEntry kLocales[] = {
    {"en_US", 1033},  {"en_GB", 2057},  {"en_AU", 3081},  {"en_CA", 4105},  {"en_NZ", 5129},
    {"en_IE", 6153},  {"en_ZA", 7177},  {"en_IN", 16393}, {"en_SG", 18441}, {"en", 1033},
    {"zh_CN", 2052},  {"zh_SG", 4100},  {"zh_TW", 1028},  {"zh_HK", 3076},  {"zh_MO", 5124},
    {"zh", 2052},     {"de_DE", 1031},  {"de_CH", 2055},  {"de_AT", 3079},  {"de", 1031},
    {"fr_FR", 1036},  {"fr_BE", 2060},  {"fr_CA", 3084},  {"fr_CH", 4108},  {"fr", 1036},
    {"es_ES", 3082},  {"es_MX", 2058},  {"es_AR", 11274}, {"es_CO", 9226},  {"es_CL", 13322},
    {"es_PE", 10250}, {"es_VE", 8202},  {"es", 3082},     {"it_IT", 1040},  {"it_CH", 2064},
    {"it", 1040},     {"pt_BR", 1046},  {"pt_PT", 2070},  {"pt", 2070},     {"ru_RU", 1049},
    {"ru", 1049},     {"ja_JP", 1041},  {"ja", 1041},     {"ko_KR", 1042},  {"ko", 1042},
    {"tr_TR", 1055},  {"tr", 1055},     {"pl_PL", 1045},  {"pl", 1045},     {"nl_NL", 1043},
    {"nl_BE", 2067},  {"nl", 1043},     {"sv_SE", 1053},  {"sv", 1053},     {"da_DK", 1030},
    {"da", 1030},     {"fi_FI", 1035},  {"fi", 1035},     {"nb_NO", 1044},  {"nb", 1044},
    {"cs_CZ", 1029},  {"cs", 1029},     {"sk_SK", 1051},  {"sk", 1051},     {"hu_HU", 1038},
    {"hu", 1038},     {"ro_RO", 1048},  {"ro", 1048},     {"bg_BG", 1026},  {"bg", 1026},
    {"el_GR", 1032},  {"el", 1032},     {"uk_UA", 1058},  {"uk", 1058},     {"ar_SA", 1025},
    {"ar_EG", 3073},  {"ar_AE", 14337}, {"ar", 1025},     {"he_IL", 1037},  {"he", 1037},
    {"th_TH", 1054},  {"th", 1054},     {"vi_VN", 1066},  {"vi", 1066},     {"id_ID", 1057},
    {"id", 1057},     {"ms_MY", 1086},  {"ms", 1086},     {"hi_IN", 1081},  {"hi", 1081},
    {"fa_IR", 1065},  {"fa", 1065},     {"et_EE", 1061},  {"et", 1061},     {"lv_LV", 1062},
    {"lv", 1062},     {"lt_LT", 1063},  {"lt", 1063},     {"sl_SI", 1060},  {"sl", 1060},
    {"hy_AM", 1067},  {"hy", 1067},
};

}  // namespace

uint32_t LocaleIdFromName(std::string_view localeName) {
    // "ll_RR.codeset@modifier": only language and region matter.
    const auto cut = localeName.find_first_of(".@");
    if (cut != std::string_view::npos) localeName = localeName.substr(0, cut);
    if (localeName.empty() || localeName == "C" || localeName == "POSIX") return kLocaleEnglishUs;

    std::string lang, region;
    const auto sep = localeName.find_first_of("_-");
    for (char c : localeName.substr(0, sep)) {
        lang += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (sep != std::string_view::npos) {
        for (char c : localeName.substr(sep + 1)) {
            region += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    const std::string full = lang + "_" + region;
    for (const auto& e : kLocales) {
        if (full == e.name) return e.lcid;
    }
    // An unknown region of a known language takes the language's usual locale.
    for (const auto& e : kLocales) {
        if (lang == e.name) return e.lcid;
    }
    return kLocaleEnglishUs;
}

uint32_t ReadSystemLocaleId() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') return LocaleIdFromName(value);
    }
    return kLocaleEnglishUs;
}

int InitLanguage(const std::string& baseDir) {
    {
        LanguageState& st = State();
        std::lock_guard lock(st.mutex);
        st.baseDir = baseDir;
        if (!st.baseDir.empty() && st.baseDir.back() != '/') st.baseDir += '/';
    }
    SetLanguage(GetSystemLanguageName());
    return 1;
}

std::string GetSystemLanguageName() {
    const uint32_t lcid = ReadSystemLocaleId();
    g_localeId = lcid;
    const std::string mapPath = GetLanguageBaseDirectory() + "Languages/Language.ini";
    std::string name =
        ReadProfileString(mapPath, "LCID", std::to_string(lcid), "", kLangValueBuffer);
    if (name.empty()) {
        g_localeId = kLocaleEnglishUs;
        return "English";
    }
    return name;
}

void SetLanguage(const std::string& name) {
    LanguageState& st = State();
    std::lock_guard lock(st.mutex);
    st.name = name.empty() ? std::string("English") : name;
    st.filePath = st.baseDir + "Languages/" + st.name + ".lng";
}

std::string ApplyLangEscapes(std::string text) {
    ReplaceAll(text, "\\r\\n", "\r\n");
    ReplaceAll(text, "\\n", "\n");
    ReplaceAll(text, "[~NullInfoChrys~]", "");
    ReplaceAll(text, "[~Null~]", " ");
    return text;
}

std::string GetLangText(std::string_view key) {
    if (key.empty()) return {};
    const std::string path = GetLanguageFilePath();
    std::string value;
    if (!path.empty()) {
        // The INI layer matches keys without regard to ASCII letter case.
        value = ReadProfileString(path, kLangSection, key, "", kLangValueBuffer);
    }
    if (value.empty()) value.assign(key);
    return ApplyLangEscapes(std::move(value));
}

std::string GetLangText(const char* key) {
    if (key == nullptr) return {};
    return GetLangText(std::string_view(key));
}

uint32_t GetSystemLocaleId() {
    return g_localeId;
}

std::string GetLanguageFilePath() {
    LanguageState& st = State();
    std::lock_guard lock(st.mutex);
    return st.filePath;
}

std::string GetLanguageBaseDirectory() {
    LanguageState& st = State();
    std::lock_guard lock(st.mutex);
    return st.baseDir;
}

}  // namespace fd
