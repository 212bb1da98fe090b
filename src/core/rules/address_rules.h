#pragma once
// The rules every page applies to what the user types as an address, a mask or a device
// name before anything is sent, and the walk through an address range that hands out
// addresses to several devices at once.
//
// Texts are UTF-8, this program's local encoding. Character classes are judged per UTF-16
// code unit, so a character outside the Basic Multilingual Plane counts as two units that
// are neither ASCII nor Chinese.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rule_failure.h"
#include "wire/address.h"

namespace fd {

// A usable host address. Empty text and "0.0.0.0" give allowEmpty. Refused: anything that
// is not a strict dotted quad, a first octet of 0, 127 or 224 and above, a last octet of 0
// or 255.
bool IsValidIpAddress(std::string_view text, bool allowEmpty);
// Four octets, neither 255.255.255.255 nor 0.0.0.0. The one-bits need not be contiguous:
// the devices accept such masks.
bool IsValidSubnetMask(std::string_view text);
// (a AND mask) == (b AND mask); an empty or unreadable text counts as 0.0.0.0.
bool IsSameSubnet(std::string_view a, std::string_view b, std::string_view mask);

// U+4E00..U+9FA5 and the CJK punctuation devices accept in names.
bool IsChineseChar(char16_t ch);
// Bytes the text takes in UTF-8, counted per UTF-16 unit (a surrogate pair counts 6).
std::size_t Utf8ByteCount(std::u16string_view text);
// The same for UTF-8 text; nullopt when the text is not valid UTF-8.
std::optional<std::size_t> Utf8ByteCount(std::string_view utf8);
// UTF-8 to UTF-16; nullopt when the text is not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);

// Models whose names are held to letters, digits, CJK and a few marks.
bool HasStrictDeviceName(int apType);
// A non-empty name within 32 UTF-8 bytes made of the characters the model accepts.
bool IsValidDeviceName(std::string_view utf8, int apType);
// The message (also its language key) for a name IsValidDeviceName refuses.
const char* DeviceNameRuleMessage(int apType);

// The fields of the address form, as typed.
struct AddressForm {
    std::string ip;  // the address, or the first of a range
    std::string mask;
    std::string gateway;
    std::string dns1;
    std::string dns2;
    std::string end;  // last address of a range (several devices only)
};

// Every field of the form read by the strict reader (ReadIpField; empty means none): the
// first field whose text is no address at all, refused with that field's message whatever a
// loose reading would make of it. Callers that skip the other checks for an unchanged form
// run this first, so "255.255.0" is never taken for the 255.255.0.0 the device has.
RuleFailure CheckAddressFieldsReadable(const AddressForm& form);
// The checks of one device's address form, in their fixed order. Nothing failed when the
// form passes, else the first failure with its code, message key and field.
RuleFailure CheckDeviceAddress(const AddressForm& form);
// The checks of the form that hands a range to deviceCount devices. With one device the
// end is not looked at.
RuleFailure CheckRangeAddress(const AddressForm& form, std::size_t deviceCount);

// Addresses from begin to end inclusive, skipping every address whose last octet is 0 or
// 255, at most `count` of them. Nothing when either text is unreadable or end < begin.
std::vector<std::string> WalkIpRange(std::string_view begin, std::string_view end,
                                     std::size_t count);

}  // namespace fd
