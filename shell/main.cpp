// Vorel: what your AI coding-assistant conversations would cost at API list
// prices, in the tray and in a window.

#include "detail/DetailScreens.h"
#include "reports/ReportScreens.h"
#include "shell/Application.h"

int main(int argc, char** argv) {
    vorel::registerReportScreens();
    vorel::registerDetailScreens();
    return vorel::Application::run(argc, argv);
}
