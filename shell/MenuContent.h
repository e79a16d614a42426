#pragma once
// What the tray panel shows, top to bottom.

#include <QWidget>
#include <string>
#include <vector>

#include "shell/RowWidgets.h"

class QLabel;
class QVBoxLayout;

namespace vorel {

class AppModel;
class CommandButton;
class HeroToday;
class TodayRow;

// "Open Vorel" on the left, "Quit" (Ctrl+Q) on the right.
class CommandRow : public QWidget {
    Q_OBJECT
public:
    explicit CommandRow(AppModel& app, QWidget* parent = nullptr);
    CommandButton* openButton() const { return open_; }
    CommandButton* quitButton() const { return quit_; }

private:
    CommandButton* open_;
    CommandButton* quit_;
};

// The panel's content, 280 px wide.
class MenuContent : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 280;
    static constexpr size_t kMaxRows = 10;

    explicit MenuContent(AppModel& app, QWidget* parent = nullptr);

    // Everything again from the model, the store and the clock. Row widgets
    // are kept by conversation and reordered, never rebuilt, so a name being
    // edited keeps its field, its text and the focus.
    void refresh();
    // Whether a change arrived while the panel was hidden; it is applied
    // when the panel shows again.
    bool isStale() const { return stale_; }

    // The conversation rows in the order shown.
    std::vector<TodayRow*> rows() const;
    HeroToday* hero() const { return hero_; }
    CommandRow* commands() const { return commands_; }
    QLabel* emptyLabel() const { return empty_; }
    QLabel* moreLabel() const { return more_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void refreshClock();
    void refreshTopics();
    void applyColors();

    AppModel& app_;
    HeroToday* hero_;
    QLabel* empty_;
    QVBoxLayout* rowsLayout_;
    QLabel* more_;
    CommandRow* commands_;
    RowWidgets<std::string, TodayRow> byId_;
    bool stale_ = false;
};

}  // namespace vorel
