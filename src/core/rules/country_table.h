#pragma once
// The countries of the wireless page with the channels each allows: one 2.4 GHz list and
// three 5 GHz lists (20, 40 and 80 MHz wide channels). A list is comma-separated channel
// numbers; its first entry, 0, stands for "Auto". In the 40 MHz list every channel carries
// "l" when it is the lower channel of its pair (the extension lies above) or "u" when it is
// the upper one.
//
// The country_code byte a device keeps is not the row's place in this table but the index
// of the row's code in the devices' own list of 62 codes (CountryCodeNumber).

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace fd {

struct CountryRow {
    const char* name;  // language key of the shown name
    const char* code;
    const char* channels24;
    const char* channels20;
    const char* channels40;
    const char* channels80;
};

inline constexpr std::size_t kCountryCount = 42;
// The rows in the order the country list shows them ("Test" last).
std::span<const CountryRow> CountryTable();

// The row's code in the devices' code list ("CN" 0, "US" 1, ... "Test" 61); 0 for a code
// that is not in it.
int CountryCodeNumber(std::string_view code);
// The code with this number in the devices' code list ("NL" for 7), or the number as
// text when the list has none.
std::string CountryCodeText(int number);
// The row whose code has this number, or -1 when no row has it.
int CountryRowOfCodeNumber(int number);
// The row with this code or shown name (letter case ignored), or -1.
int FindCountryRow(std::string_view codeOrName);
// The row the devices use for testing: no channel is left out for radar detection there.
bool IsTestCountryRow(int row);

}  // namespace fd
