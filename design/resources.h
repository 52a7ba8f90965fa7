// The pictures and layouts compiled into the design library: registered once, before the
// first dialog needs them (a static library's resources are not registered by themselves).
#pragma once

namespace tgen {

void InitDesignResources();

}  // namespace tgen
