#include "tools/genkey/json_lines.h"

#include "platform/base/charset.h"

namespace tgen::genkey {

std::string Utf8(std::string_view table_text) {
  static TCharsetConverter to_utf8(kTableCharset, "UTF-8");  // genkey writes from one thread
  return to_utf8.ConvertLossy(table_text, "\xEF\xBF\xBD");
}

void WriteJsonLine(std::ostream& out, const nlohmann::json& object) {
  out << object.dump() << '\n' << std::flush;
}

}  // namespace tgen::genkey
