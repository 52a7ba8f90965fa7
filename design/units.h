// What the units of the design-time package do when the package is loaded and unloaded. The
// package runs them in the order Gendlg, Setupdlg, uAbt, Gensrc, and shuts down in reverse.
#pragma once

namespace tgen {

// The dialogs' pictures become available; the mask dialog's remembered checks start cleared.
void GendlgInitialization();
// Drops the mask dialog's engine if a dialog was left open.
void GendlgFinalization();
// Frees the OK pictures and gives the address opener back its default, so nothing of the
// package's code stays referenced once it is gone.
void UAbtFinalization();

}  // namespace tgen
