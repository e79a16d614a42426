#include "reports/ReportScreens.h"

#include "reports/ChartView.h"
#include "reports/ExportView.h"
#include "reports/HistoryView.h"
#include "reports/PricingView.h"
#include "shell/AppModel.h"
#include "shell/MainWindow.h"

namespace vorel {

void registerReportScreens() {
    MainWindow::registerScreen(Section::history, [](AppModel& m) -> QWidget* { return new HistoryView(m); });
    MainWindow::registerScreen(Section::chart, [](AppModel& m) -> QWidget* { return new ChartView(m); });
    MainWindow::registerScreen(Section::exportCsv, [](AppModel& m) -> QWidget* { return new ExportView(m); });
    MainWindow::registerScreen(Section::pricing, [](AppModel&) -> QWidget* { return new PricingView; });
}

}  // namespace vorel
