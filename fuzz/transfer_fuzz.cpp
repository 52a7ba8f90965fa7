// Feeds arbitrary bytes to the readers of sequence files: CSV and JSON. Any input ends in rows
// or in ETransferError, never in a crash or a hang; rows that come back pass the checks again.
#include <cstdint>
#include <sstream>
#include <string>

#include "core/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const bool json : {false, true}) {
    std::istringstream in(text);
    try {
      const std::vector<tgen::TSequenceRow> rows = json ? tgen::ReadJson(in) : tgen::ReadCsv(in);
      tgen::CheckSequenceRows(rows);
      // What was read is written and read again to the same rows.
      std::ostringstream out;
      tgen::WriteCsv(out, rows);
      std::istringstream again(out.str());
      if (tgen::ReadCsv(again).size() != rows.size()) __builtin_trap();
    } catch (const tgen::ETransferError&) {
    }
  }
  return 0;
}
