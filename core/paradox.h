// Paradox .DB files of generator tables, as old applications keep them: GenID, Try and State
// numbers, Prefix and Suffix alpha 20, Time and Who alpha 17, code page 1251. Read and written
// with pxlib; texts travel as their bytes.
#pragma once

#include <string>
#include <vector>

#include "core/transfer.h"

namespace tgen {

// Writes `rows` as a new Paradox table file at `path` (replacing it): all of it, or
// ETransferError and no file.
void WriteParadox(const std::string& path, const std::vector<TSequenceRow>& rows);

// Reads a whole Paradox generator table and checks every row (CheckSequenceRows). A Paradox
// file is outside input and its reader old C code: the file is read by a child process, which
// checks the header (field count, names, types and sizes, record size) before it asks for any
// record, so that a damaged file that makes the reader crash or hang costs the child only.
// ETransferError names what was wrong.
std::vector<TSequenceRow> ReadParadox(const std::string& path);

// ReadParadox without the child process: a reader crash is this process's. For the fuzz target,
// which looks for such crashes; programs call ReadParadox.
std::vector<TSequenceRow> ReadParadoxInProcess(const std::string& path);

// For a program that loads this library when it first needs it (LoadFunction): the functions
// above, by name.
struct TParadoxFunctions {
  std::vector<TSequenceRow> (*Read)(const std::string& path);
  void (*Write)(const std::string& path, const std::vector<TSequenceRow>& rows);
};

}  // namespace tgen

extern "C" const tgen::TParadoxFunctions* tgen_paradox_functions();
