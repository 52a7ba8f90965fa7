#include "tools/genkey/json_lines.h"

#include "platform/base/charset.h"

namespace tgen::genkey {

std::string Utf8(std::string_view table_text) {
  try {
    return ConvertText(table_text, kTableCharset, "UTF-8", "");
  } catch (const EConvertError&) {
    std::string text;
    for (const char byte : table_text) {  // one at a time, so that only what has no place is lost
      try {
        text += ConvertText(std::string_view(&byte, 1), kTableCharset, "UTF-8", "");
      } catch (const EConvertError&) {
        text += "\xEF\xBF\xBD";
      }
    }
    return text;
  }
}

void WriteJsonLine(std::ostream& out, const nlohmann::json& object) {
  out << object.dump() << '\n' << std::flush;
}

}  // namespace tgen::genkey
