#include "core/keysequence.h"

#include <utility>

#include "core/gentable.h"
#include "platform/base/exception.h"

namespace tgen {

KeySequence::KeySequence(const TSequenceOptions& o)
    : state_(std::make_unique<State>(State{o.Proc})), g_(std::make_unique<TGenerator>()) {
  if (o.Mask.empty()) throw Exception("a sequence needs a mask", TErrorKind::kBadInput);
  TGenerator& g = *g_;
  g.SetMask(o.Mask);
  if (const std::string why = g.BoundsProblem(o.Start, o.End); !why.empty())
    throw Exception(why, TErrorKind::kBadInput);
  if (!o.Start.empty()) g.SetStartValue(o.Start);
  if (!o.End.empty()) g.SetEndValue(o.End);
  g.SetGeneratorType(o.Type);
  g.SetLockMode(o.Lock);
  g.SetCacheSize(o.Cache);
  g.SetMaxWait(o.MaxWait);
  g.SetCheckMethod(o.Check);
  g.SetFiscalYearStart(o.FiscalStart);
  g.SetPeriodFormat(o.Period);
  if (const std::string why = g.GenMask().DrawProblem(); !why.empty())
    throw Exception("Can not draw from the mask '" + o.Mask + "': " + why, TErrorKind::kBadInput);
  g.SetDataBaseName(o.Alias);
  g.SetTableName(o.Table);
  State* state = state_.get();
  g.GetUserPrefixes = [state](TObject*, TmString& text) {
    if (!state->proc.empty()) text = state->proc;
  };
  g.OnUndoFailed = [state](TObject*, TmString) { state->undo_refused = true; };
  if (!o.RestartAtEnd) {
    g.OnOverFlowMask = [mask = o.Mask](TObject*, TmString) {
      throw Exception(
          "the sequence of the mask '" + mask + "' has reached its end; nothing was handed out",
          TErrorKind::kBadInput);
    };
  }
  // Opened here, so that a failure is an exception with its reason and kind, not a notice.
  CreateDefaultGeneratorTable(o.Alias, o.Table);
  if (o.CreateTable) {
    static_cast<void>(TSession::Default().CreateTableIfMissing(o.Alias, o.Table, GeneratorFields(),
                                                               GeneratorKey()));
  }
  TTable probe;
  probe.SetDatabaseName(o.Alias);
  probe.SetTableName(o.Table);
  probe.Open();
  if (const std::string problems = GeneratorTableProblems(probe); !problems.empty())
    throw EDatabaseError("Bad table format: " + problems, TErrorKind::kBadInput);
  probe.Close();
  g.InitDB();
  if (g.Disabled()) throw EDatabaseError("the table " + o.Table + " cannot be opened");
}

KeySequence::KeySequence(KeySequence&&) noexcept = default;
KeySequence& KeySequence::operator=(KeySequence&&) noexcept = default;
KeySequence::~KeySequence() = default;

std::string KeySequence::Next() {
  return g_->Generator().str();
}

std::vector<std::string> KeySequence::Next(int count) {
  std::vector<std::string> keys;
  for (const TmString& key : g_->GenerateBatch(count))
    keys.push_back(key.str());
  return keys;
}

std::string KeySequence::NextIn(TAppTransaction& transaction) {
  return g_->GenerateIn(transaction).str();
}

std::string KeySequence::Undo() {
  state_->undo_refused = false;
  std::string back = g_->Undo().str();
  if (state_->undo_refused) {
    throw Exception(
        "the last key could not be handed back: another client drew since, or "
        "there is none to hand back",
        TErrorKind::kUndoRefused);
  }
  return back;
}

std::size_t KeySequence::KeyLength() const {
  return static_cast<std::size_t>(g_->GenMask().Count()) + CheckLength(g_->CheckMethod());
}

void KeySequence::SetDate(std::optional<TDate> date) {
  g_->SetDrawDate(date);
}

}  // namespace tgen
