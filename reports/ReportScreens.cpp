#include "ReportScreens.h"

#include "MainWindow.h"

namespace vorel {

void registerReportScreens() {}

}  // namespace vorel
