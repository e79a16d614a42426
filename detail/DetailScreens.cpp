#include "DetailScreens.h"

#include "AppModel.h"
#include "ConversationDetailView.h"
#include "MainWindow.h"

namespace vorel {

void registerDetailScreens() {
    MainWindow::registerScreen(Section::details, [](AppModel& m) -> QWidget* { return new ConversationDetailView(m); });
}

}  // namespace vorel
