#pragma once

namespace vorel {

// Registers the report screens (Conversations, Bar chart, Export, Pricing)
// with the main window.
void registerReportScreens();

}  // namespace vorel
