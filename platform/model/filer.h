// Filers: what a component sees of the stored form while it is read or written.
//
// A component stores values beyond its published properties by defining them in
// DefineProperties(), giving a name, a routine that reads the value and one that writes it.
// The same call serves reading and writing: a TReader runs the reader of the property that
// the stream names, a TWriter writes every property that has data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tgen {

class TReader;
class TWriter;

using TReaderProc = std::function<void(TReader& Reader)>;
using TWriterProc = std::function<void(TWriter& Writer)>;

class TFiler {
 public:
  TFiler() = default;
  TFiler(const TFiler&) = delete;
  TFiler& operator=(const TFiler&) = delete;
  virtual ~TFiler() = default;

  // Declares a stored value. `HasData` says whether there is something to write.
  virtual void DefineProperty(std::string_view Name, const TReaderProc& ReadData,
                              const TWriterProc& WriteData, bool HasData) = 0;
};

// Reads the value of the property being read. Each call reads one value; a value of another
// type fails with EReadError naming the line.
class TReader : public TFiler {
 public:
  virtual std::string ReadString() = 0;
  virtual std::int32_t ReadInteger() = 0;
  virtual std::string ReadIdent() = 0;
};

// Writes the value of the property being written.
class TWriter : public TFiler {
 public:
  virtual void WriteString(std::string_view Value) = 0;
  virtual void WriteInteger(std::int32_t Value) = 0;
  virtual void WriteIdent(std::string_view Value) = 0;
};

}  // namespace tgen
