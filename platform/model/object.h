// The root of the class hierarchy: what every event's Sender is.
#pragma once

namespace tgen {

// Root object class. Everything that sends events derives from it, so one Sender type fits
// every handler. It has no state of its own.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  TObject(TObject&&) = default;
  TObject& operator=(TObject&&) = default;
  virtual ~TObject() = default;
};

}  // namespace tgen
