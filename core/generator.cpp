#include "core/generator.h"

#include "core/gentable.h"
#include "core/rowlock.h"
#include "core/stores.h"
#include "core/timestamp.h"
#include "platform/base/convert.h"
#include "platform/base/notice.h"
#include "platform/model/classes.h"

namespace tgen {

namespace {

constexpr std::string_view kCaption = "Generator Information";
// Chosen with bench/contention: see WaitRound().
constexpr std::chrono::nanoseconds kDefaultWaitRound = std::chrono::microseconds(100);

// Each instance draws its pause from a generator of its thread, seeded once, so that the
// application's random numbers are left alone and making a component stays cheap.
std::int32_t DrawWaitCount() {
  thread_local std::minstd_rand random([] {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzz runs of one seed must repeat exactly: no entropy (the fuzzer learns the values it
    // sees compared, random ones included).
    std::seed_seq seed{static_cast<unsigned>(Now().time_since_epoch().count())};
#else
    std::random_device entropy;
    std::seed_seq seed{entropy(), entropy(),
                       static_cast<unsigned>(Now().time_since_epoch().count())};
#endif
    return std::minstd_rand(seed);
  }());
  return std::uniform_int_distribution<std::int32_t>(0, 999)(random);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TGenerator::TGenerator(TComponent* AOwner)
    : TComponent(AOwner),
      FTable(std::make_unique<TTable>()),
      FGenMask(std::make_unique<TGenMask>()),
      FWho(TakeUniqueTimeStamp().substr(0, 17)),
      FDataBaseName(DefaultDataBaseName),
      FTableName(DefaultTableName),
      FWaitCount(DrawWaitCount()),
      wait_round_(kDefaultWaitRound) {
  UseStandardStores();  // static builds run no initializer of their own
  // One row per sequence, also on a table made without a unique key on these fields.
  FTable->SetKeyFieldNames(genfield::KeyFields);
  FGenMask->OnGetPROC = TGenProcEvent(this, &TGenerator::pGetPROC);
  FGenMask->OnOverFlow = TGOverFlowEvent(this, &TGenerator::pOverFlow);
  if (Designing()) {
    FAliasNames = std::make_unique<TStringList>();
    FTableNames = std::make_unique<TStringList>();
  }
}

TGenerator::~TGenerator() {
  ReturnCache();
  FTable->Close();
}

void TGenerator::Loaded() {
  InitDB();
  TComponent::Loaded();
}

void TGenerator::DefineProperties(TFiler& Filer) {
  TComponent::DefineProperties(Filer);
  Filer.DefineProperty(
      "DataBaseName", [this](TReader& r) { ReadDBData(r); }, [this](TWriter& w) { WriteDBData(w); },
      true);
  Filer.DefineProperty(
      "TableName", [this](TReader& r) { ReadTblData(r); }, [this](TWriter& w) { WriteTblData(w); },
      true);
}

namespace {

// A bound is stored only beside a mask that has places (an empty one, or one that ends at a
// zero byte at once, has none): read without them it would be dropped, so a form that held it
// would not read back as it was written.
TPropInfo Bound(TPropInfo p) {
  p.Stored = [stored = std::move(p.Stored)](const TComponent& c) {
    return dynamic_cast<const TGenerator&>(c).GenMask().Count() > 0 && stored(c);
  };
  return p;
}

}  // namespace

const TPropList& TGenerator::ClassProperties() {
  static const TPropList list(
      TComponent::ClassProperties(),
      {
          StringProperty<TGenerator>("Mask", "string", &TGenerator::Mask, &TGenerator::SetMask),
          Bound(StringProperty<TGenerator>("StartValue", "TmString", &TGenerator::StartValue,
                                           &TGenerator::SetStartValue)),
          Bound(StringProperty<TGenerator>("EndValue", "TmString", &TGenerator::EndValue,
                                           &TGenerator::SetEndValue)),
          IntegerProperty<TGenerator>("GeneratorType", &TGenerator::GeneratorType,
                                      &TGenerator::SetGeneratorType),
          IntegerProperty<TGenerator>("Tag", &TGenerator::Tag, nullptr),
          IntegerProperty<TGenerator>("MaxWait", &TGenerator::MaxWait, &TGenerator::SetMaxWait, 30),
          IntegerProperty<TGenerator>("CacheSize", &TGenerator::CacheSize,
                                      &TGenerator::SetCacheSize),
          EnumProperty<TGenerator>("LockMode", "TLockMode", {"lmRowFields", "lmTransaction"},
                                   &TGenerator::LockMode, &TGenerator::SetLockMode,
                                   TLockMode::lmRowFields),
          EnumProperty<TGenerator>(
              "CheckMethod", "TCheckMethod", {"cmNone", "cmLuhn", "cmMod97", "cmMod37", "cmDamm"},
              &TGenerator::CheckMethod, &TGenerator::SetCheckMethod, TCheckMethod::cmNone),
          StringProperty<TGenerator>("PeriodFormat", "string", &TGenerator::PeriodFormat,
                                     &TGenerator::SetPeriodFormat),
          IntegerProperty<TGenerator>("FiscalYearStart", &TGenerator::FiscalYearStart,
                                      &TGenerator::SetFiscalYearStart, 1),
          EventProperty("GetUserPrefixes", "TGenProcEvent", &TGenerator::GetUserPrefixes),
          EventProperty("OnOverFlowMask", "TGOverFlowEvent", &TGenerator::OnOverFlowMask),
          EventProperty("OnNewRecord", "TOnNewRecord", &TGenerator::OnNewRecord),
          EventProperty("OnUndoFailed", "TGOverFlowEvent", &TGenerator::OnUndoFailed),
      });
  return list;
}

void RegisterGeneratorClasses() {
  RegisterClass<TGenerator>();
}

// ---------------------------------------------------------------------------------------------
// Property setters

void TGenerator::SetCheckMethod(TCheckMethod Value) {
  if (const std::string why = CheckProblem(Value); !why.empty())
    throw Exception("Can not check the keys of the mask '" + Mask() + "': " + why,
                    TErrorKind::kBadInput);
  check_method_ = Value;
}

std::string TGenerator::CheckProblem(TCheckMethod method) const {
  const std::size_t length = static_cast<std::size_t>(FGenMask->Count()) + CheckLength(method);
  if (CheckLength(method) == 0 || length <= 100) return {};
  return "its keys with their check would be " + std::to_string(length) +
         " characters long, and a key holds at most 100";
}

void TGenerator::SetPeriodFormat(const std::string& Value) {
  if (const std::string why = PeriodProblem(Value); !why.empty())
    throw Exception("Can not fill the '@' places of the mask '" + Mask() + "': " + why,
                    TErrorKind::kBadInput);
  period_format_ = Value;
}

std::string TGenerator::PeriodProblem(const std::string& format) const {
  if (format.empty()) return {};
  const int places = FGenMask->ProcCount();
  int length = 0;
  try {
    length = PeriodLength(format);
  } catch (const Exception& e) {
    return e.Message();
  }
  if (length == places) return {};
  return "the period format '" + format + "' writes " + std::to_string(length) +
         " character(s), and the mask has " + std::to_string(places) + " '@' place(s)";
}

void TGenerator::SetFiscalYearStart(std::int32_t Value) {
  if (Value < 1 || Value > 12) {
    throw Exception("FiscalYearStart is a month from 1 to 12, not " + std::to_string(Value),
                    TErrorKind::kBadInput);
  }
  fiscal_year_start_ = Value;
}

void TGenerator::SetMaxWait(std::int32_t Value) {
  if (Value < 0) throw Exception("MaxWait must not be negative", TErrorKind::kBadInput);
  max_wait_ = Value;
}

void TGenerator::SetCacheSize(std::int32_t Value) {
  if (Value < 0) throw Exception("CacheSize must not be negative", TErrorKind::kBadInput);
  if (Value != cache_size_) ReturnCache();
  cache_size_ = Value;
}

void TGenerator::SetGeneratorType(std::int32_t Value) {
  if (Value != FGeneratorType) ReturnCache();
  FGeneratorType = Value;
}

void TGenerator::SetDataBaseName(std::string Value) {
  if (Value != FDataBaseName) ReturnCache();
  FDataBaseName = std::move(Value);
}

void TGenerator::SetTableName(std::string Value) {
  if (Value != FTableName) ReturnCache();
  FTableName = std::move(Value);
}

void TGenerator::SetMask(const std::string& Value) {
  ReturnCache();
  if (Value.empty()) FDisabled = true;
  FMask = Value;
  FGenMask->ScanMask(FMask);
  // Keys with their check must fit in a key: refused, never cut (a draw refuses them too).
  if (const std::string why = CheckProblem(check_method_); !why.empty())
    throw Exception("Can not check the keys of the mask '" + FMask + "': " + why,
                    TErrorKind::kBadInput);
}

void TGenerator::SetStartValue(const TmString& Value) {
  ReturnCache();
  FStartValue.clear();
  if (FGenMask->Count() == 0) return;
  FStartValue = Value;
  FGenMask->SetStartValue(FStartValue);
  CheckBounds("StartValue must be lower than EndValue");
}

void TGenerator::SetEndValue(const TmString& Value) {
  ReturnCache();
  FEndValue.clear();
  if (Value.empty()) {
    // An end the engine kept would restart the sequence there, repeating keys.
    FGenMask->SetEndValue(Value);
    return;
  }
  if (FGenMask->Count() == 0) return;
  FEndValue = Value;
  FGenMask->SetEndValue(FEndValue);
  CheckBounds("EndValue must be greater than StartValue");
}

std::string TGenerator::BoundsProblem(const TmString& Start, const TmString& End) const {
  for (const auto& [name, value] : {std::pair{"start", &Start}, std::pair{"end", &End}}) {
    if (value->empty()) continue;
    const std::string why = FGenMask->ValidateProblem(*value);
    if (!why.empty()) {
      return std::string(name) + " value \"" + value->str() + "\" does not fit the mask: " + why;
    }
  }
  if (!Start.empty() && !End.empty() && CompareText(End, Start) <= 0) {
    return "start value \"" + Start.str() + "\" does not sort before end value \"" + End.str() +
           "\"";
  }
  return {};
}

void TGenerator::CheckBounds(const char* refusal) {
  if (FStartValue.empty() || FEndValue.empty()) return;
  if (CompareText(FEndValue, FStartValue) > 0) {
    FDisabled = false;
    return;
  }
  MessageBox(refusal, kCaption, MB_ICONSTOP);
  FStartValue.clear();
  FDisabled = true;
}

// ---------------------------------------------------------------------------------------------
// Handlers of the mask engine

void TGenerator::pGetPROC(TObject* /*Sender*/, TmString& Preff) {
  if (!period_format_.empty()) Preff = FormatPeriod(period_format_, DrawDate(), fiscal_year_start_);
  if (GetUserPrefixes.Assigned()) GetUserPrefixes(this, Preff);
}

void TGenerator::pOverFlow(TObject* /*Sender*/, TmString ovSuffix) {
  ++overflows_;
  if (OnOverFlowMask.Assigned()) {
    OnOverFlowMask(this, ovSuffix);
    return;
  }
  NullRecord();
  if (defer_notice_) {
    notice_deferred_ = true;
    return;
  }
  ShowRestartNotice();
}

void TGenerator::ShowRestartNotice() {
  MessageBox("Incremental part was set to startup value", kCaption, MB_ICONINFORMATION);
}

// ---------------------------------------------------------------------------------------------
// Operations

void TGenerator::NullRecord() {
  if (OnNewRecord.Assigned()) {
    // The handler restarts the sequence through the engine, or by handing back the suffix to
    // start from.
    TmString nvSuffix = FSuffix;
    OnNewRecord(this, nvSuffix);
    if (nvSuffix != FSuffix) {
      if (!FGenMask->Fits(nvSuffix)) RefuseRestart(nvSuffix);
      FGenMask->SetSuffix(nvSuffix);
    }
    // A handler that did neither leaves whatever the engine held, maybe the bare mask.
    if (!FGenMask->Fits(FGenMask->GetSuffix())) RefuseRestart(FGenMask->GetSuffix());
  } else {
    FGenMask->NullValue();
  }
  // The prefix as the draw fetched it: asking for it anew in the middle of a draw could store
  // the restart under one prefix and hand it out under another.
  FSuffix = FGenMask->GetSuffix();
  FPrefix = FGenMask->CurrentPrefix();
}

void TGenerator::RefuseRestart(const TmString& suffix) const {
  throw ERestartRefused("OnNewRecord restarted the sequence at '" + suffix.str() +
                        "', which does not fit the mask '" + Mask() + "'");
}

bool TGenerator::CheckTimeOut(const TmString& T) {
  return rowlock::TimedOut(T.str());
}

}  // namespace tgen
