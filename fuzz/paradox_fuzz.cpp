// Feeds arbitrary bytes as a Paradox .DB file to the reader of old generator tables, in this
// process, so that a crash inside the Paradox library shows: the header checks must refuse a
// file before the library is asked to read what they already refused.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/paradox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/tgen-paradox-fuzz-" + std::to_string(getpid()) + ".db";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    tgen::ReadParadoxInProcess(path);
  } catch (const tgen::ETransferError&) {
  }
  return 0;
}
