#pragma once
// Every text the user sees is written in English in the code and looked up here: the
// English text is the key into the current language file (Languages/<name>.lng, section
// ProgramOutStr); a missing file or key shows the English text itself. The language is
// chosen once at start-up from the system locale through Languages/Language.ini (section
// LCID: Windows locale id -> language name).

#include <cstdint>
#include <string>
#include <string_view>

namespace fd {

inline constexpr uint32_t kLocaleEnglishUs = 1033;
inline constexpr uint32_t kLocaleChineseSimplified = 2052;

// Sets the base directory (ending in '/'), picks the language for the system locale and
// makes it current. Returns 1.
int InitLanguage(const std::string& baseDir);

// The language name for the system locale: the locale's entry in Language.ini, or
// "English" (and a remembered locale of 1033) when there is none.
std::string GetSystemLanguageName();

// Makes Languages/<name>.lng current; an empty name means "English". The file need not exist.
void SetLanguage(const std::string& name);

// The translation of `key`, or the key itself; then "\r\n", "\n", "[~NullInfoChrys~]" and
// "[~Null~]" are replaced, in that order. Keys match without regard to letter case. Safe
// from any thread.
std::string GetLangText(std::string_view key);
// A null key gives empty text.
std::string GetLangText(const char* key);

// The system locale id last read by GetSystemLanguageName (1033 until then, and when the
// locale has no entry in the map).
uint32_t GetSystemLocaleId();

// The Windows locale id of the system locale: LC_ALL, LC_MESSAGES, LANG (the first that is
// set and not empty).
uint32_t ReadSystemLocaleId();
// The Windows locale id of a POSIX locale name such as "zh_CN.UTF-8" or "de_DE@euro".
// "C", "POSIX", empty and unknown names give 1033.
uint32_t LocaleIdFromName(std::string_view localeName);

// The current language file's full path, and the base directory (for the pages that build
// paths next to it).
std::string GetLanguageFilePath();
std::string GetLanguageBaseDirectory();

// The escapes of language-file values, in their fixed order.
std::string ApplyLangEscapes(std::string text);

}  // namespace fd
