// A store kept in a library of its own, loaded when an alias of it is first used: a program
// that never opens such a table does not load the store's client library. (libpq and the
// thirty libraries it needs take a one-key genkey longer to start than its draw takes.)
#pragma once

#include <string>
#include <vector>

#include "platform/store/session.h"

namespace tgen {

// Registers with `session`, for `schemes`, a store that on first use loads `library` (a file
// name, or the file `built` in the build tree: LoadFunction) and calls its C function
// `entry`(TSession*), which registers the real store for the same schemes. A library that
// cannot be loaded makes each use fail with EDatabaseError, kind kUnavailable, naming the
// library and why.
void RegisterLazyStore(TSession& session, const std::vector<std::string>& schemes,
                       const std::string& library, const std::string& built,
                       const std::string& entry);

}  // namespace tgen
