// Vorel: what your AI coding-assistant conversations would cost at API list
// prices, in the tray and in a window.

#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "AppModel.h"
#include "MainWindow.h"
#include "NavState.h"
#include "Theme.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorel"));
    QApplication::setQuitOnLastWindowClosed(false);
    vorel::BrandFont::registerBundledFonts();

    vorel::AppModel& model = vorel::AppModel::shared();
    vorel::MainWindow::setQuitOnClose(true);

    // Open the main window once, after start-up, at the section asked for.
    QTimer::singleShot(0, [&model] {
        const char* section = std::getenv("VOREL_SECTION");
        vorel::MainWindow::show(model, vorel::sectionFromName(QString::fromUtf8(section ? section : "")));
    });
    return app.exec();
}
