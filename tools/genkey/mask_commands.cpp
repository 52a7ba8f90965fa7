// genkey preview and genkey check: trying a mask out on the command line.
#include <ostream>

#include "core/genmask.h"
#include "core/gentable.h"
#include "core/period.h"
#include "platform/base/exception.h"
#include "tools/genkey/commands.h"
#include "tools/genkey/json_lines.h"

namespace tgen::genkey {

int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&] {
    const TCheckMethod method = CheckMethodOf(options.check);
    bool all = true;
    for (const std::string& key : options.keys) {
      const bool ok = VerifyCheck(method, key);
      if (options.json) {
        WriteJsonLine(out, {{"key", Utf8(key)}, {"ok", ok}});
      } else {
        out << key << (ok ? " ok\n" : " bad\n");
      }
      all = all && ok;
    }
    return all ? kOk : kFailure;
  });
}

int RunReference(const ReferenceOptions& options, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&] {
    for (const std::string& key : options.keys)
      out << CreditorReference(key, options.grouped) << '\n';
    return kOk;
  });
}

namespace {

// Parses the mask; prints the parser's message and returns false when it does not parse.
bool Scan(TGenMask& mask, const std::string& text, std::ostream& err) {
  try {
    mask.ScanMask(text);
    return true;
  } catch (const Exception& e) {
    err << "genkey: the mask '" << text << "' is refused: " << e.Message() << '\n';
    return false;
  }
}

// Sets the given bounds that fit the mask; one that does not is left out and reported with
// its reason. Returns whether every given value was kept.
bool SetBounds(TGenMask& mask, const std::optional<std::string>& start,
               const std::optional<std::string>& end, std::ostream& err) {
  bool kept = true;
  auto set = [&](const char* name, const std::optional<std::string>& value, auto setter) {
    if (!value) return;
    const std::string why = mask.ValidateProblem(*value);
    if (why.empty()) {
      (mask.*setter)(*value);
      return;
    }
    err << "genkey: " << name << " value \"" << *value << "\" does not fit the mask: " << why
        << '\n';
    kept = false;
  };
  set("start", start, &TGenMask::SetStartValue);
  set("end", end, &TGenMask::SetEndValue);
  return kept;
}

}  // namespace

int RunPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  TGenMask mask;
  if (options.proc) {
    mask.OnGetPROC = [text = TmString(*options.proc)](TObject*, TmString& preff) { preff = text; };
  }
  if (!Scan(mask, options.mask, err)) return kFailure;
  // A refused bound is reported and left out, as the mask dialog's test panel does.
  SetBounds(mask, options.start, options.end, err);
  if (options.from) {
    mask.SetSuffix(*options.from);
  } else {
    mask.NullValue();
  }

  for (long long i = 0; i < options.count; ++i) {
    if (i > 0) options.down ? mask.Decrement() : mask.Increment();
    if (options.proc) mask.GetPrefix();
    if (options.json) {
      WriteJsonLine(out, {{"value", Utf8(mask.GetMskValue().view())}});
    } else {
      out << mask.GetMskValue() << '\n';
    }
  }
  out.flush();
  return kOk;
}

int RunCheck(const DrawOptions& options, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    const std::unique_ptr<TGenerator> g = ConfigureGenerator(options, err);
    if (!g) return kFailure;
    TGenMask mask;
    mask.ScanMask(options.mask);
    if (options.start) mask.SetStartValue(*options.start);
    if (options.end) mask.SetEndValue(*options.end);
    if (options.proc || !options.period.empty()) {
      const TmString text = options.proc
                                ? TmString(*options.proc)
                                : FormatPeriod(options.period, g->DrawDate(), options.fiscal_start);
      mask.OnGetPROC = [text](TObject*, TmString& preff) { preff = text; };
    }
    mask.NullValue();
    const TmString prefix = mask.GetPrefix();
    const TmString suffix = mask.GetSuffix();
    // The fields of a generator table made the usual way.
    for (const auto& [field, text] :
         {std::pair{genfield::Prefix, prefix}, {genfield::Suffix, suffix}}) {
      for (const TFieldDef& f : GeneratorFields()) {
        if (f.Name != field || text.size() + 1 <= static_cast<std::size_t>(f.DataSize)) continue;
        err << "genkey: the keys' " << field << " '" << text << "' is " << text.size()
            << " characters long; a generator table's " << field << " field holds "
            << f.DataSize - 1 << '\n';
        return kFailure;
      }
    }
    out << "mask ok: " << mask.Count() << " elements, " << suffix.size() << " counting places";
    if (!mask.StartValue().empty()) out << ", start " << mask.StartValue();
    if (!mask.EndValue().empty()) out << ", end " << mask.EndValue();
    out << "; first value " << mask.GetMskValue()
        << CheckCharacters(g->CheckMethod(), mask.GetMskValue().str()) << '\n';
    return kOk;
  });
}

}  // namespace tgen::genkey
