// Loading a library of this project when it is first needed, so that a program does not load
// at its start what only some of its commands use (each library it loads costs start-up time).
#pragma once

#include <string>

namespace tgen {

// The address of the function `symbol` of `library` (a file name), loaded once: looked for
// beside the libraries of this project (an installation), at `built` (where the build made it,
// for programs run in the build tree), then where the dynamic linker looks. EDatabaseError
// (kind kUnavailable) naming the library and why, when it cannot be loaded or lacks `symbol`.
void* LoadFunction(const std::string& library, const std::string& built, const std::string& symbol);

}  // namespace tgen
