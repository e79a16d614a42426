#pragma once
// The compact conversation picker: a one-line search field that, while it
// has the keyboard focus, hangs a panel of up to eight matching
// conversations below itself. Clicking one reports its row id; what that
// selects is the caller's business.
//
// The panel floats: it is a child of the field's top-level window, raised
// above the screen's content and kept inside the window, so it takes no room
// in any layout. On every refresh tick and annotation change the listed rows
// are updated in place; the field and what is typed in it are never touched.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "engine/SessionRow.h"
#include "shell/HoverButton.h"

class QLabel;
class QLineEdit;
class QToolButton;
class QVBoxLayout;

namespace vorel {

class AppModel;
class SearchResultsPanel;

// One line of the results panel: the conversation's title, a line of
// source, project and age, and its total. A click anywhere on it picks it.
// It never takes the keyboard focus, so clicking it leaves the field focused
// until the pick closes the panel.
class SearchResultRow : public HoverButton {
    Q_OBJECT
public:
    explicit SearchResultRow(QWidget* parent = nullptr);

    void setContent(const QString& rowId, const QString& title, const QString& detail, const QString& amount,
                    bool isSelected);

    const QString& rowId() const { return rowId_; }
    const QString& title() const { return title_; }
    const QString& detail() const { return detail_; }
    const QString& amount() const { return amount_; }
    bool isSelected() const { return selected_; }
    // The background is tinted while the pointer is over the row or it is
    // the current selection.
    bool isHighlighted() const { return isHovered() || selected_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString rowId_;
    QString title_;
    QString detail_;
    QString amount_;
    bool selected_ = false;
};

class ConversationSearchField : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 280;
    static constexpr size_t kMaxResults = 8;
    // The panel's top edge lies this far below the field's top edge.
    static constexpr int kPanelOffset = 32;

    explicit ConversationSearchField(AppModel& model, QWidget* parent = nullptr);
    ~ConversationSearchField() override;

    // The conversation the caller shows: its title is the placeholder and
    // its line is highlighted in the panel. A pick sets it too, before
    // `picked` is emitted.
    QString selectedId() const { return selectedId_; }
    void setSelectedId(const QString& rowId);

    // What the user has typed, as typed.
    QString query() const;
    QLineEdit* lineEdit() const { return edit_; }
    QToolButton* clearButton() const { return clear_; }

    // Whether the results panel is showing (it shows while the field has
    // the keyboard focus).
    bool isPanelOpen() const;
    // The panel; null until it first opens.
    QWidget* resultsPanel() const;
    // The lines the panel lists, in order (empty while it is closed).
    std::vector<SearchResultRow*> resultRows() const;
    // The panel's message when nothing matches; empty when something does.
    QString noMatchText() const;

    // The indexes into `allRows()` of the conversations that match `query`
    // now: at most kMaxResults, in the model's order. Case is ignored, and
    // an accented letter matches whether it is written precomposed or with
    // a combining accent.
    std::vector<size_t> matches(const QString& query) const;

    // The text shown while nothing is typed: the selected conversation's
    // title, or "Search conversations" when no conversation has that id.
    QString placeholder() const;

signals:
    // A result was clicked; its row id.
    void picked(const QString& rowId);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // What matching reads of one row, worked out once per tick: the topic
    // as shown, and each text as matching compares it.
    struct Searchable {
        QString topic;
        QString topicKey;
        QString titleKey;
        QString projectKey;
        QString sourceKey;
        std::vector<QString> tagKeys;
    };

    const Searchable& searchable(size_t index) const;
    void invalidate();
    void onRefreshed();
    void onMetaChanged();
    void updatePlaceholder();
    void openPanel();
    void closePanel();
    void updatePanel();
    void placePanel();
    void watchAncestors(bool watch);
    void pick(QString rowId);
    void applyColors();

    AppModel& app_;
    QString selectedId_;
    QLineEdit* edit_;
    QLabel* glass_;
    QToolButton* clear_;
    QPointer<SearchResultsPanel> panel_;
    std::vector<QPointer<QWidget>> watched_;
    // Per row of the model's current list, filled as matching reaches it.
    mutable std::vector<std::optional<Searchable>> cache_;
};

}  // namespace vorel
