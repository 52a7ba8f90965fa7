#include "platform/store/lazystore.h"

#include <memory>
#include <mutex>

#include "platform/base/loader.h"

namespace tgen {

namespace {

class TLazyStore final : public TStoreDriver {
 public:
  TLazyStore(TSession& session, std::string scheme, std::string library, std::string built,
             std::string entry)
      : session_(session),
        scheme_(std::move(scheme)),
        library_(std::move(library)),
        built_(std::move(built)),
        entry_(std::move(entry)) {}

  std::unique_ptr<TTableDriver> OpenTable(const std::string& location,
                                          const std::string& table) override {
    return Real().OpenTable(location, table);
  }
  std::vector<std::string> TableNames(const std::string& location) override {
    return Real().TableNames(location);
  }
  [[nodiscard]] std::string ResolveLocation(const std::string& location,
                                            const std::string& folder) const override {
    return Real().ResolveLocation(location, folder);
  }
  [[nodiscard]] std::string DisplayUri(const std::string& scheme,
                                       const std::string& location) override {
    return Real().DisplayUri(scheme, location);
  }
  void CreateTable(const std::string& location, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) override {
    Real().CreateTable(location, table, fields, unique_key);
  }

 private:
  // The store the library registered, loaded once.
  TStoreDriver& Real() const {
    std::call_once(loaded_, [this] {
      try {
        using Entry = void (*)(TSession*);
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): a function from dlsym
        const auto entry = reinterpret_cast<Entry>(LoadFunction(library_, built_, entry_));
        entry(&session_);
      } catch (const EDatabaseError& e) {
        error_ = e.Message();
        return;
      }
      real_ = session_.DriverFor(scheme_);
      if (real_.get() == this) real_.reset();
      if (!real_) error_ = library_ + " registered no store for " + scheme_ + ":";
    });
    if (!real_) {
      throw EDatabaseError("The store for " + scheme_ + ": aliases: " + error_,
                           TErrorKind::kUnavailable);
    }
    return *real_;
  }

  TSession& session_;
  std::string scheme_;
  std::string library_;
  std::string built_;
  std::string entry_;
  mutable std::once_flag loaded_;
  mutable std::shared_ptr<TStoreDriver> real_;
  mutable std::string error_;
};

}  // namespace

void RegisterLazyStore(TSession& session, const std::vector<std::string>& schemes,
                       const std::string& library, const std::string& built,
                       const std::string& entry) {
  for (const std::string& scheme : schemes) {
    session.RegisterDriver(scheme,
                           std::make_shared<TLazyStore>(session, scheme, library, built, entry));
  }
}

}  // namespace tgen
