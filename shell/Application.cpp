#include "Application.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "AppModel.h"
#include "Appearance.h"
#include "MainWindow.h"
#include "MenuPanel.h"
#include "NavState.h"
#include "ShellScreens.h"
#include "SingleInstance.h"
#include "StatusItem.h"
#include "Theme.h"

namespace vorel {

Application::Application(AppModel& model, platform::StatusItem* item, QObject* parent)
    : QObject(parent), model_(model), item_(item), quit_([] { QCoreApplication::quit(); }) {
    MainWindow::setQuitOnClose(item == nullptr);
    if (!item) return;

    updateIcon();
    updateTitle();
    connect(&model_, &AppModel::refreshed, this, &Application::updateTitle);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &Application::updateIcon);
    connect(item, &platform::StatusItem::activated, this, &Application::togglePanel);
    connect(item, &platform::StatusItem::openRequested, this,
            [this] { MainWindow::show(model_, Section::history); });
    connect(item, &platform::StatusItem::quitRequested, this, [this] { quit_(); });
}

Application::~Application() { delete panel_; }

void Application::updateTitle() {
    if (item_) item_->setTitle(QString::fromStdString(model_.model().menuTitle()));
}

void Application::updateIcon() {
    if (item_) item_->setIcon(platform::StatusItem::logo(item_->iconSize(), platform::StatusItem::panelTextColor()));
}

void Application::togglePanel(const QRect& anchorGlobal) {
    if (!panel_) panel_ = new MenuPanel(model_);
    panel_->toggleNear(anchorGlobal);
}

void Application::postLaunchTask() {
    QTimer::singleShot(0, this, &Application::openAtLaunch);
}

void Application::openAtLaunch() {
    if (didOpenMainWindow_) return;
    didOpenMainWindow_ = true;
    const char* section = std::getenv("VOREL_SECTION");
    MainWindow::show(model_, sectionFromName(QString::fromUtf8(section ? section : "")));
}

int Application::run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorel"));
    // The process lives in the tray; closing the window only hides it.
    QApplication::setQuitOnLastWindowClosed(false);
    BrandFont::registerBundledFonts();
    BrandColor::applyToApplication();

    platform::SingleInstance instance;
    if (!instance.claim()) return 0;

    registerShellScreens();
    AppModel& model = AppModel::shared();
    std::unique_ptr<platform::StatusItem> item(platform::StatusItem::create());
    Application shell(model, item.get());
    // Another launch shows this instance's window where it was.
    connect(&instance, &platform::SingleInstance::showRequested, &shell,
            [&model] { MainWindow::show(model, NavState::shared().section()); });
    shell.postLaunchTask();
    return app.exec();
}

}  // namespace vorel
