// The cost of drawing one value in memory: a step of the mask engine plus the read-out of the
// whole value, against what an application would otherwise write, an integer counter
// formatted into the same shape with snprintf. Both run in this binary, so their ratio is
// comparable from run to run even on a noisy machine.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "core/genmask.h"

namespace {

// Ten counting places: a set, three digit-or-letter, two digit and one letter place.
constexpr const char* kMask = "INV-[AB]&&&##$-@";

void BM_GenMaskIncrementAndValue(benchmark::State& state) {
  tgen::TGenMask mask;
  mask.ScanMask(kMask);
  mask.NullValue();
  for (auto _ : state) {
    mask.Increment();
    tgen::TmString value = mask.GetMskValue();
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_GenMaskIncrementAndValue);

// The same shape from an integer: INV-, a letter of two, three base-36 places, two digits,
// a letter, -@.
void BM_SnprintfBaseline(benchmark::State& state) {
  static constexpr char kBase36[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  unsigned long counter = 0;
  char buffer[32];
  for (auto _ : state) {
    ++counter;
    unsigned long n = counter;
    const unsigned letter = n % 26;
    n /= 26;
    const unsigned digits = n % 100;
    n /= 100;
    const unsigned b0 = n % 36, b1 = (n / 36) % 36, b2 = (n / 1296) % 36;
    const unsigned set = (n / 46656) % 2;
    std::snprintf(buffer, sizeof buffer, "INV-%c%c%c%c%02u%c-@", "AB"[set], kBase36[b2],
                  kBase36[b1], kBase36[b0], digits, 'A' + letter);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_SnprintfBaseline);

// With an end bound every step also compares the suffix with it.
void BM_GenMaskIncrementWithEndValue(benchmark::State& state) {
  tgen::TGenMask mask;
  mask.ScanMask(kMask);
  mask.SetEndValue("BZZZ99Z");
  mask.NullValue();
  for (auto _ : state) {
    mask.Increment();
    tgen::TmString value = mask.GetMskValue();
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_GenMaskIncrementWithEndValue);

}  // namespace
