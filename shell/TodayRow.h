#pragma once
// A conversation's row in the tray panel.

#include <QWidget>
#include <string>

#include "engine/Clock.h"
#include "engine/SessionRow.h"

class QLabel;

namespace vorel {

class InlineField;
class LiveDot;
class MetaLine;
class MetadataStore;

// One of today's conversations: status dot, name field, meta line, and
// today's and the total amount on the right. Kept for as long as its
// conversation is listed, and updated in place.
class TodayRow : public QWidget {
    Q_OBJECT
public:
    explicit TodayRow(MetadataStore& meta, const std::string& rowId, QWidget* parent = nullptr);

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

    std::string id_;
    SessionRow row_;
    bool isCurrent_ = false;
    LiveDot* dot_;
    InlineField* name_;
    MetaLine* meta_;
    QLabel* today_;
    QLabel* total_;
};

}  // namespace vorel
