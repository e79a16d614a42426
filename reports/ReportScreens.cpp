#include "ReportScreens.h"

#include "AppModel.h"
#include "ChartView.h"
#include "ExportView.h"
#include "HistoryView.h"
#include "MainWindow.h"
#include "PricingView.h"

namespace vorel {

void registerReportScreens() {
    MainWindow::registerScreen(Section::history, [](AppModel& m) -> QWidget* { return new HistoryView(m); });
    MainWindow::registerScreen(Section::chart, [](AppModel& m) -> QWidget* { return new ChartView(m); });
    MainWindow::registerScreen(Section::exportCsv, [](AppModel& m) -> QWidget* { return new ExportView(m); });
    MainWindow::registerScreen(Section::pricing, [](AppModel&) -> QWidget* { return new PricingView; });
}

}  // namespace vorel
