#include "shell/Application.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "engine/MetadataFile.h"
#include "engine/MetadataStore.h"
#include "engine/Settings.h"
#include "platform/Appearance.h"
#include "platform/SingleInstance.h"
#include "platform/StatusItem.h"
#include "shell/AppModel.h"
#include "shell/MainWindow.h"
#include "shell/MenuPanel.h"
#include "shell/ModifierTypingFilter.h"
#include "shell/NavState.h"
#include "shell/ShellScreens.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// What the save line says goes to stderr too: each reason a save failed
// for once, the end of the failures, and where an unreadable file was kept.
void reportSaveFailures(MetadataStore& store) {
    // Shared, not kept in the callback: the notifier runs a copy of it.
    struct Told {
        std::string reason;
        bool aside = false;
    };
    auto told = std::make_shared<Told>();
    store.statusChanged().subscribe([&store, told] {
        if (!store.setAsideName().empty() && !told->aside) {
            told->aside = true;
            std::fprintf(stderr, "Vorel: %s could not be read and was kept as %s; names and notes start empty.\n",
                         store.fileURL().c_str(), store.setAsideName().c_str());
        }
        if (store.hasUnsavedChanges() && store.saveError() != told->reason) {
            told->reason = store.saveError();
            std::fprintf(stderr, "Vorel: names and notes could not be saved to %s: %s\n", store.fileURL().c_str(),
                         told->reason.c_str());
        } else if (!store.hasUnsavedChanges() && !told->reason.empty()) {
            told->reason.clear();
            std::fprintf(stderr, "Vorel: names and notes are saved again.\n");
        }
    });
}

}  // namespace

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
    MainWindow::show(model_, sectionFromName(QString::fromStdString(Settings::current().section)));
}

int Application::run(int argc, char** argv) {
    // The environment is read here, once, before anything can start a
    // thread that reads the settings.
    Settings::setCurrent(Settings::fromEnvironment());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorel"));
    // The process lives in the tray; closing the window only hides it.
    QApplication::setQuitOnLastWindowClosed(false);
    BrandFont::registerBundledFonts();
    BrandColor::applyToApplication();
    ModifierTypingFilter::install(app);

    // One instance per metadata folder, whatever else differs between two
    // launches (TMPDIR, say): both would write the same file.
    platform::SingleInstance instance(QString::fromStdString(Settings::current().metadataDir));
    const platform::SingleInstance::Claim claim = instance.claim();
    if (claim == platform::SingleInstance::Claim::AnotherRuns) {
        if (!instance.reachedRunningInstance()) {
            std::fprintf(stderr, "Vorel: another Vorel holds %s but did not answer; leaving it be.\n",
                         qPrintable(instance.lockPath()));
        }
        return 0;
    }
    MetadataStore& store = MetadataStore::shared();
    reportSaveFailures(store);
    if (claim == platform::SingleInstance::Claim::Primary) {
        // Copies of the file a killed save left behind; no other process
        // can be writing one now.
        MetadataFile::removeStaleTemporaries(store.fileURL());
    } else {
        std::fprintf(stderr, "Vorel: %s Starting anyway; a second Vorel using the same folder would not be noticed.\n",
                     qPrintable(instance.lockError()));
        // When the folder itself is the cause, saves fail too: find out now,
        // so the window says so before anything is typed.
        store.saveNow();
    }

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
