#include "ShellScreens.h"

#include "AboutView.h"
#include "MainWindow.h"

namespace vorel {

void registerShellScreens() {
    MainWindow::registerScreen(Section::about, [](AppModel&) -> QWidget* { return new AboutView; });
}

}  // namespace vorel
