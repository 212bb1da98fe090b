#pragma once
// JSON text: string literals as every front end writes them, and the flat objects that the
// program reads back (a plan's rows, a journal's lines): objects whose values are strings,
// numbers, true, false or null, nothing nested.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fd {

// A JSON string literal (with the quotes): control characters escaped, malformed UTF-8
// bytes as \ufffd.
std::string JsonString(std::string_view text);

struct JsonMember {
    std::string key;
    std::string value;  // numbers, true and false as their text; null as ""
    int line = 0;       // where the key stands, from 1
};
struct JsonFlatObject {
    int line = 0;  // where the object opens
    std::vector<JsonMember> members;
};
struct JsonFlatArray {
    std::vector<JsonFlatObject> objects;
    std::string error;  // empty when the whole text was read
    int errorLine = 0;
};
// An array of flat objects ("[ {...}, ... ]"), nothing after it but white space.
JsonFlatArray ReadJsonFlatArray(std::string_view text);
// One flat object, nothing after it but white space.
std::optional<JsonFlatObject> ReadJsonFlatObject(std::string_view text);

}  // namespace fd
