#pragma once
// The panel that opens from the status item: today's cost, today's
// conversations (each renamable in place) and the commands "Open Vorel" and
// "Quit". Everything shown is read from the cost model and the metadata
// store; the only thing written is a conversation's name.

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <string>
#include <unordered_map>
#include <vector>

#include "Clock.h"
#include "SessionRow.h"

class QKeyEvent;
class QLabel;
class QToolButton;
class QVBoxLayout;

class QScrollArea;
class QTextLayout;

namespace vorel {

class AppModel;
class CostModel;
class InlineField;
class LiveDot;
class MetadataStore;

// The panel's small section labels: the text upper-cased, 10 px medium,
// tracked 0.6 px, in the muted text colour.
QLabel* microLabel(const QString& text, QWidget* parent = nullptr);

// A borderless text button: muted, and in the accent colour while the
// pointer is over it (or it has the keyboard focus).
class CommandButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& title, QWidget* parent = nullptr);
    bool isHovered() const { return hover_; }
    QColor textColor() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    bool hover_ = false;
};

// Today's amount with its date, and the note that it is an estimate, with
// an info button that opens an explanation below it.
class HeroToday : public QWidget {
    Q_OBJECT
public:
    explicit HeroToday(CostModel& model, QWidget* parent = nullptr);

    // Today's date and amount, as of `now`.
    void refresh(TimePoint now);

    bool showInfo() const { return showInfo_; }
    void setShowInfo(bool show);

    QLabel* dateLabel() const { return date_; }
    QLabel* amountLabel() const { return amount_; }
    QToolButton* infoButton() const { return info_; }
    // The explanation's popup, made when first shown.
    QWidget* infoPopover() const { return popover_; }

    static const QString kInfoText;

private:
    void applyColors();

    CostModel& model_;
    QLabel* today_;
    QLabel* date_;
    QLabel* amount_;
    QLabel* estimate_;
    QToolButton* info_;
    QPointer<QWidget> popover_;
    bool showInfo_ = false;
};

// A row's meta line and, for a conversation priced in part by estimate,
// the mark "⚑ est" after it in the warning colour. The two read as one text
// across the whole column: one line while they fit; otherwise wrapped at
// word boundaries, with the mark kept whole after the line's end.
class MetaLine : public QWidget {
    Q_OBJECT
public:
    static const QString kMark;

    explicit MetaLine(QWidget* parent = nullptr);

    void setText(const QString& line);
    const QString& text() const { return line_; }
    void setMark(bool shown);
    bool hasMark() const { return mark_; }
    // The text as drawn: the line, then the mark when it is shown.
    QString shownText() const;
    // How many lines the text takes at the widget's width.
    int lineCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    double layOut(QTextLayout& layout, double width) const;

    QString line_;
    bool mark_ = false;
};

// One of today's conversations: status dot, name field, meta line, and
// today's and the total amount on the right. Kept for as long as its
// conversation is listed, and updated in place.
class TodayRow : public QWidget {
    Q_OBJECT
public:
    explicit TodayRow(MetadataStore& meta, const std::string& rowId, QWidget* parent = nullptr);
    ~TodayRow() override;

    void setRow(const SessionRow& row, bool isCurrent, TimePoint now);
    // The age and the dot, which follow the clock.
    void updateClock(TimePoint now);
    // The name, unless it is being edited.
    void refreshTopic();

    const std::string& rowId() const { return id_; }
    bool isCurrent() const { return isCurrent_; }
    InlineField* nameField() const { return name_; }
    LiveDot* dot() const { return dot_; }
    MetaLine* metaRow() const { return meta_; }
    QLabel* todayLabel() const { return today_; }
    QLabel* totalLabel() const { return total_; }

    // "Claude Code · opus 4 6 · 2 sub · 5m ago": source, primary model and
    // subagent count where they are present, then the age.
    static QString metaLine(const SessionRow& row, TimePoint now);

private:
    void applyColors();

    MetadataStore& store_;
    std::string id_;
    SessionRow row_;
    bool isCurrent_ = false;
    LiveDot* dot_;
    InlineField* name_;
    MetaLine* meta_;
    QLabel* today_;
    QLabel* total_;
};

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
    std::unordered_map<std::string, TodayRow*> byId_;
    bool stale_ = false;
};

// The panel window: a frameless popup that closes on a click outside it.
class MenuPanel : public QWidget {
    Q_OBJECT
public:
    // A click on the status item closes the open panel before the item sees
    // the click; a toggle this soon after the panel closed is that click.
    static constexpr int kReopenGuardMs = 300;
    // The gap between the status item and the panel.
    static constexpr int kAnchorGap = 4;
    // The least height a panel that must scroll is given beside the item.
    static constexpr int kMinScrollingHeight = 240;

    explicit MenuPanel(AppModel& app, QWidget* parent = nullptr);

    // Opens the panel below the status item's rectangle (global
    // coordinates), or above it when there is no room below, kept on the
    // screen that holds it.
    void showNear(const QRect& anchorGlobal);
    // Opens the panel, or closes it when it is open.
    void toggleNear(const QRect& anchorGlobal);

    MenuContent* content() const { return content_; }
    // True while the panel is taller than the screen allows and scrolls.
    bool isScrolling() const;

    // Where a panel of `size` goes for an anchor on a screen whose usable
    // area is `available`.
    static QPoint placement(const QSize& size, const QRect& anchor, const QRect& available);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void fitAndPlace();
    bool isQuitKey(const QKeyEvent* e) const;

    MenuContent* content_;
    QScrollArea* scroll_;
    QRect anchor_;
    QElapsedTimer hiddenAt_;
};

}  // namespace vorel
