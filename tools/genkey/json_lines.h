// Output for programs (--json): one JSON object a line, with named fields. Texts of keys and
// tables (Windows-1251 bytes) are written as UTF-8, whatever the locale.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

namespace tgen::genkey {

// A table's text as a JSON string's UTF-8; a byte without a character (0x98) becomes U+FFFD.
std::string Utf8(std::string_view table_text);

// Writes `object` on a line of its own, and flushes it.
void WriteJsonLine(std::ostream& out, const nlohmann::json& object);

}  // namespace tgen::genkey
