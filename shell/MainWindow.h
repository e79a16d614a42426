#pragma once
// The application's one ordinary window: a sidebar of six sections and the
// screen of the selected one. Made on first show and kept for the life of
// the process; closing it only hides it.

#include <QPointer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>

#include "shell/NavState.h"

class QLabel;
class QListWidget;
class QVBoxLayout;

namespace vorel {

class AppModel;
class MainMenu;

// Builds the screen of one section; the window owns what it returns.
using ScreenFactory = std::function<QWidget*(AppModel&)>;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static MainWindow& shared();
    // The window if it has been made, for tests.
    static MainWindow* existing();

    // The screen builders, registered at start-up by the folders that own
    // the screens; a section without one shows a plain placeholder.
    static void registerScreen(Section s, ScreenFactory factory);

    // Selects the section and brings the window forward, making it the
    // first time (its content size from the current settings).
    static void show(AppModel& model, Section section);

    // Whether closing the window quits the application (when there is no
    // status item to bring it back from).
    static void setQuitOnClose(bool quit);

    QWidget* currentScreen() const { return screen_; }
    MainMenu* mainMenu() const { return menu_; }
    QWidget* saveStatusLine() const { return saveStatus_; }
    // The model the window was made with (it keeps it for good).
    AppModel& model() const { return model_; }

    // The window's sizes: its first content size unless the settings
    // give another, and the smallest it may be made. The sidebar keeps its
    // width, so every section's screen must lay out in what is left at the
    // smallest size; then no section has to widen the window.
    static constexpr QSize kDefaultSize{780, 640};
    static constexpr QSize kMinimumSize{760, 420};
    static constexpr int kSidebarWidth = 190;
    static constexpr int kNarrowestScreen = kMinimumSize.width() - kSidebarWidth;
    // Where the screens' text starts, from the sidebar's edge.
    static constexpr int kContentMargin = 20;

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    explicit MainWindow(AppModel& model);
    QWidget* buildSidebar();
    QWidget* buildContentPane();
    void connectSignals();
    void showSection(Section s);
    void fitToScreen();
    void applyTheme();
    void updateFooter();
    void selectSidebarRow(Section s);

    AppModel& model_;
    MainMenu* menu_ = nullptr;
    QListWidget* sidebar_ = nullptr;
    QLabel* todayAmount_ = nullptr;
    QLabel* todayLabel_ = nullptr;
    QWidget* sidebarPane_ = nullptr;
    QVBoxLayout* content_ = nullptr;
    QWidget* saveStatus_ = nullptr;
    QPointer<QWidget> screen_;
    std::optional<Section> shown_;
    bool staleFooter_ = false;
};

}  // namespace vorel
