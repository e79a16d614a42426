#include "shell/ShellScreens.h"

#include "shell/AboutView.h"
#include "shell/MainWindow.h"

namespace vorel {

void registerShellScreens() {
    MainWindow::registerScreen(Section::about, [](AppModel&) -> QWidget* { return new AboutView; });
}

}  // namespace vorel
