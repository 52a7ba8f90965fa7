// genkey preview and genkey check: trying a mask out on the command line.
#include <ostream>

#include "core/genmask.h"
#include "platform/base/exception.h"
#include "tools/genkey/commands.h"

namespace tgen::genkey {

int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&] {
    const TCheckMethod method = CheckMethodOf(options.check);
    bool all = true;
    for (const std::string& key : options.keys) {
      const bool ok = VerifyCheck(method, key);
      out << key << (ok ? " ok\n" : " bad\n");
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
    err << e.Message() << '\n';
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
    out << mask.GetMskValue() << '\n';
  }
  out.flush();
  return kOk;
}

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  TGenMask mask;
  if (!Scan(mask, options.mask, err)) return kFailure;
  if (!SetBounds(mask, options.start, options.end, err)) return kFailure;
  if (const std::string why = mask.DrawProblem(); !why.empty()) {
    err << "genkey: keys cannot be drawn from this mask: " << why << '\n';
    return kFailure;
  }

  mask.NullValue();
  const TmString suffix = mask.GetSuffix();
  out << "mask ok: " << mask.Count() << " elements, " << suffix.size() << " counting places";
  if (!mask.StartValue().empty()) out << ", start " << mask.StartValue();
  if (!mask.EndValue().empty()) out << ", end " << mask.EndValue();
  out << "; first value " << mask.GetMskValue() << '\n';
  return kOk;
}

}  // namespace tgen::genkey
