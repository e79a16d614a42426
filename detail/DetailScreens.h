#pragma once

namespace vorel {

// Registers the Details screen with the main window.
void registerDetailScreens();

}  // namespace vorel
