// Test helper shared by the readers' tests: each damaged input must be refused with its reason.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/transfer.h"

namespace tgen {

// A damaged input (a file's text, or a path), and what its refusal must say.
struct Refusal {
  std::string input;
  std::string said;
};

// Each input is refused by `read` with an ETransferError that says what it must.
template <typename Read>
void ExpectRefused(Read read, const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    try {
      read(c.input);
      ADD_FAILURE() << "accepted: " << c.input;
    } catch (const ETransferError& e) {
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos)
          << c.input << "\nsaid: " << e.what() << "\nwanted: " << c.said;
    }
  }
}

}  // namespace tgen
