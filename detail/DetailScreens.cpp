#include "detail/DetailScreens.h"

#include "detail/ConversationDetailView.h"
#include "shell/AppModel.h"
#include "shell/MainWindow.h"

namespace vorel {

void registerDetailScreens() {
    MainWindow::registerScreen(Section::details, [](AppModel& m) -> QWidget* { return new ConversationDetailView(m); });
}

}  // namespace vorel
