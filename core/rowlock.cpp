#include "core/rowlock.h"

#include <cstdint>
#include <string_view>

#include "core/gentable.h"
#include "core/timestamp.h"
#include "platform/base/convert.h"
#include "platform/store/dataset.h"

namespace tgen::rowlock {

namespace {

std::string Text(TTable& table, const char* field, bool fetched) {
  const TField& f = table.FieldByName(field);
  return fetched ? f.FetchedAsString() : f.AsString();
}

double Number(TTable& table, const char* field, bool fetched) {
  const TField& f = table.FieldByName(field);
  return fetched ? f.FetchedAsFloat() : f.AsFloat();
}

// The seconds and milliseconds at the end of a time stamp, as a number.
std::int32_t SecondsAndMs(std::string_view stamp) {
  return StrToInt(stamp.substr(stamp.size() > 5 ? stamp.size() - 5 : 0));
}

}  // namespace

bool TimedOut(const std::string& time) {
  return SecondsAndMs(GetTimeStamp()) - SecondsAndMs(time) > kHoldMs;
}

bool Held(TTable& table, bool fetched) {
  return Number(table, genfield::State, fetched) != kFree;
}

bool Stale(TTable& table, bool fetched) {
  return Number(table, genfield::Try, fetched) > kMaxTries ||
         TimedOut(Text(table, genfield::Time, fetched));
}

bool HeldBy(TTable& table, bool fetched, const std::string& who, const std::string& stamp) {
  return Text(table, genfield::Who, fetched) == who &&
         Number(table, genfield::State, fetched) == kHeld &&
         Text(table, genfield::Time, fetched) == stamp;
}

bool FreeAfter(TTable& table, bool fetched, const std::string& who, const std::string& stamp) {
  // State read as text: a damaged row is not free, and no reason to fail.
  return Text(table, genfield::State, fetched) == "0" &&
         Text(table, genfield::Who, fetched) == who &&
         Text(table, genfield::Time, fetched) == stamp;
}

void WriteHeld(TTable& table, const std::string& who, const std::string& stamp) {
  table.FieldByName(genfield::State).SetAsFloat(kHeld);
  table.FieldByName(genfield::Who).SetAsString(who);
  table.FieldByName(genfield::Try).SetAsFloat(0);
  table.FieldByName(genfield::Time).SetAsString(stamp);
}

void WriteFree(TTable& table) {
  table.FieldByName(genfield::State).SetAsFloat(kFree);
  table.FieldByName(genfield::Try).SetAsFloat(0);
}

void WriteFree(TTable& table, const std::string& who, const std::string& stamp) {
  WriteFree(table);
  table.FieldByName(genfield::Who).SetAsString(who);
  table.FieldByName(genfield::Time).SetAsString(stamp);
}

}  // namespace tgen::rowlock
