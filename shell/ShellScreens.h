#pragma once
// The main window's screens that the shell itself provides.

namespace vorel {

// Registers the About screen with the main window. Call once at start-up,
// before the window is first shown.
void registerShellScreens();

}  // namespace vorel
