#pragma once
// Wires the shell together: the status item shows today's amount and opens
// the panel, its menu opens the main window or quits, and the launch task
// opens the main window once at the section the settings name.

#include <QObject>
#include <functional>

namespace vorel {

namespace platform {
class StatusItem;
}

class AppModel;
class MenuPanel;

class Application : public QObject {
    Q_OBJECT
public:
    // `item` may be null: the desktop has no tray, so closing the main
    // window quits (nothing could bring it back otherwise). The item must
    // outlive this object.
    Application(AppModel& model, platform::StatusItem* item, QObject* parent = nullptr);
    ~Application() override;

    // The whole process: settings from the environment, single instance,
    // fonts, model, status item, launch task, event loop. Returns the exit
    // code.
    static int run(int argc, char** argv);

    // Posts the launch task to the event loop.
    void postLaunchTask();
    // The launch task: the first call opens the main window at the section
    // the current settings name; later calls do nothing.
    void openAtLaunch();

    // The panel, made on the first click on the status item.
    MenuPanel* panel() const { return panel_; }

    // What quitting does; QCoreApplication::quit unless replaced (tests).
    void setQuitAction(std::function<void()> quit) { quit_ = std::move(quit); }

private:
    void updateTitle();
    void updateIcon();
    void togglePanel(const QRect& anchorGlobal);

    AppModel& model_;
    platform::StatusItem* item_;  // outlives this object
    MenuPanel* panel_ = nullptr;
    std::function<void()> quit_;
    bool didOpenMainWindow_ = false;
};

}  // namespace vorel
