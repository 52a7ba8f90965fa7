// The general exception of the system: a failure that carries its message text.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tgen {

// Raised for failures that the caller must handle (a mask that does not parse, a key that
// cannot be generated, ...). Descendants refine the kind; every one carries its text in
// Message(), which what() returns too.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  [[nodiscard]] const std::string& Message() const noexcept { return message_; }
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace tgen
