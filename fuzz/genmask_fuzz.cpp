// Feeds arbitrary bytes to the mask engine: a mask, bounds, a suffix, texts to validate and a
// few hundred steps either way. Besides the sanitizers' checks it asserts the engine's limits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "core/genmask.h"
#include "fuzz/quiet_sink.h"
#include "platform/base/exception.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// The read-outs must agree with the table and stay within their bounds.
void CheckShape(const tgen::TGenMask& m) {
  Require(m.Count() >= 0 && m.Count() <= tgen::TGenMask::MaxElements);
  const tgen::TmString value = m.GetMskValue();
  Require(value.size() == std::min<std::size_t>(static_cast<std::size_t>(m.Count()), 100));
  Require(m.GetSuffix().size() <= value.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tgen::fuzz::Quiet();

  FuzzedDataProvider in(data, size);
  tgen::TGenMask m;
  int errors = 0;
  if (in.ConsumeBool()) {
    m.OnErrorMask = [&errors](tgen::TObject*, int position, std::string_view) {
      Require(position >= 1 && position <= 101);
      ++errors;
    };
  }
  if (in.ConsumeBool()) m.OnOverFlow = [](tgen::TObject*, tgen::TmString) {};
  if (in.ConsumeBool()) m.OnUnderFlow = [](tgen::TObject*, tgen::TmString) {};
  if (in.ConsumeBool()) {
    m.OnGetPROC = [](tgen::TObject*, tgen::TmString& preff) { preff += "PQ"; };
  }

  try {
    m.ScanMask(in.ConsumeRandomLengthString(300));
  } catch (const tgen::Exception&) {
    Require(m.Count() == 0);
  }
  CheckShape(m);

  m.SetStartValue(in.ConsumeRandomLengthString(120));
  m.SetEndValue(in.ConsumeRandomLengthString(120));
  Require(m.StartValue().empty() || m.Validate(m.StartValue()));
  if (in.ConsumeBool()) {
    m.SetSuffix(in.ConsumeRandomLengthString(120));
  } else {
    m.NullValue();
  }
  m.SetPrefix(in.ConsumeRandomLengthString(120));
  // The quiet check agrees with the reporting one.
  const tgen::TmString candidate = in.ConsumeRandomLengthString(120);
  Require(m.ValidateProblem(candidate).empty() == m.Validate(candidate));

  const int steps = in.ConsumeIntegralInRange(0, 400);
  for (int i = 0; i < steps && in.remaining_bytes() > 0; ++i) {
    in.ConsumeBool() ? m.Increment() : m.Decrement();
    if (i % 16 == 0) static_cast<void>(m.GetPrefix());
    CheckShape(m);
  }
  static_cast<void>(m.GetSTAT());
  static_cast<void>(m.GetENUM());
  static_cast<void>(m.GetINCR());
  static_cast<void>(m.GetPROC());
  return 0;
}
