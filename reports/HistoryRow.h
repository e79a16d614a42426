#pragma once
// One conversation in the history list: status dot, its name and note as
// inline fields bound to the metadata store, a line of facts, its tags,
// the per-model and subagent lines when they matter, and today's and the
// total cost in two right-hand columns. The list keeps one row per
// conversation and hands it new data on every tick; the row changes only
// what differs, so the field being edited, the pointer's hover and an open
// popover stay as they are.

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/SessionRow.h"

class QLabel;
class QVBoxLayout;

namespace vorel {

class InlineField;
class LiveDot;
class MetadataStore;
class TagEditor;

// The width of the TODAY and TOTAL columns, in the list's column header and
// in every row, so that the figures line up under their captions.
inline constexpr int costCol = 66;

// The "⚑ est" button shown when part of a conversation was priced by a
// fallback rate; pressing it opens a short explanation above it.
class EstBadge : public QAbstractButton {
    Q_OBJECT
public:
    explicit EstBadge(QWidget* parent = nullptr);

    static const QString kExplanation;

    bool isShown() const { return show_; }
    void setShown(bool show);
    // The explanation's popup; null until it first opens.
    QWidget* popover() const { return popover_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void hideEvent(QHideEvent* e) override;

private:
    bool show_ = false;
    QPointer<QWidget> popover_;
};

class HistoryRow : public QWidget {
    Q_OBJECT
public:
    HistoryRow(const SessionRow& row, MetadataStore& meta, TimePoint now, QWidget* parent = nullptr);

    // New data for the same conversation (same id), as of `now`. Only what
    // changed is touched; the name and note are read from the store again
    // when the title they fall back on changes, and a field being edited
    // keeps what is typed.
    void setRow(const SessionRow& row, TimePoint now);
    // The name, note and tags again from the store.
    void refreshMeta();

    const SessionRow& row() const { return row_; }
    const std::string& rowId() const { return row_.id; }

    // Whether the row holds the keyboard focus or an open popup, which a
    // list must not take away by hiding or deleting the row.
    bool isInUse() const;

    // "project · model · 2 subagents · started Mar 6, 2:05 PM · active 5m ago".
    static QString infoLine(const SessionRow& row, TimePoint now);
    // "opus 4 6 · $1.20", with "  ⚑ est" for a line priced by a fallback rate.
    static QString modelLineText(const ModelLine& line);
    // Whether the per-model lines show: several models, or any estimated.
    static bool showsModelLines(const SessionRow& row);

    // For tests.
    InlineField* nameField() const { return name_; }
    InlineField* noteField() const { return note_; }
    LiveDot* dot() const { return dot_; }
    EstBadge* estBadge() const { return est_; }
    TagEditor* tagEditor() const { return tags_; }
    QString infoText() const;
    QStringList modelLines() const;
    // The information and model lines as drawn at the row's width.
    QString shownInfoText() const;
    QStringList shownModelLines() const;
    // Each subagent line as "name · $0.12 · 5m ago".
    QStringList subagentLines() const;
    QLabel* todayLabel() const { return today_; }
    QLabel* totalLabel() const { return total_; }

private:
    class TextLine;
    struct SubagentLine {
        QWidget* box;
        TextLine* name;
        TextLine* detail;
    };

    void showInfo(TimePoint now);
    void updateModelLines();
    void updateSubagentLines(TimePoint now);
    void applyColors();

    MetadataStore& store_;
    SessionRow row_;

    LiveDot* dot_;
    InlineField* name_;
    InlineField* note_;
    TextLine* info_;
    EstBadge* est_;
    TagEditor* tags_;
    QVBoxLayout* modelsBox_;
    std::vector<TextLine*> models_;
    QWidget* subagentsPane_;
    QVBoxLayout* subagentsBox_;
    std::vector<SubagentLine> subagents_;
    QLabel* today_;
    QLabel* total_;
};

}  // namespace vorel
