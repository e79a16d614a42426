// Vorel: what your AI coding-assistant conversations would cost at API list
// prices, in the tray and in a window.

#include "Application.h"
#include "DetailScreens.h"
#include "ReportScreens.h"

int main(int argc, char** argv) {
    vorel::registerReportScreens();
    vorel::registerDetailScreens();
    return vorel::Application::run(argc, argv);
}
