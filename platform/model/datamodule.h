// TDataModule: the root of a stored form that holds non-visual components, such as
// generators. An application derives its own root from it and publishes its event handlers
// by name (PublishMethod) in its constructor, so that a stored form can bind them.
#pragma once

#include <string_view>

#include "platform/model/component.h"

namespace tgen {

class TDataModule : public TComponent {
 public:
  static constexpr std::string_view StaticClassName = "TDataModule";

  explicit TDataModule(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
};

}  // namespace tgen
