#include "reports/HistoryRow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "reports/TagEditor.h"
#include "shell/Formatting.h"
#include "shell/InlineField.h"
#include "shell/PlainLabel.h"
#include "shell/Popup.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

using ColorRole = QColor (*)();

const QString kSeparator = QStringLiteral(" · ");

using BrandColor::setTextColor;

QLabel* costLabel(const QFont& font) {
    QLabel* l = plainLabel(QString(), font);
    l->setFixedWidth(costCol);
    l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return l;
}

}  // namespace

// A single line of plain text in one of the theme's colours. An elidable
// line may be given less room than its text needs and then ends in "…";
// the row never grows wider or taller for a long project or subagent name.
// A line may keep its end whole (the age, the cost): then the text before
// that end is cut instead, and the end is cut only when it alone is too
// wide.
class HistoryRow::TextLine : public QWidget {
public:
    TextLine(const QFont& font, ColorRole color, bool elidable) : color_(color), elidable_(elidable) {
        setFont(font);
        setSizePolicy(elidable ? QSizePolicy::Preferred : QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    const QString& text() const { return text_; }
    // `keepFrom` is where the end kept whole starts; -1 for none.
    void setText(const QString& text, qsizetype keepFrom = -1) {
        if (text == text_ && keepFrom == keepFrom_) return;
        text_ = text;
        keepFrom_ = keepFrom;
        updateGeometry();
        update();
    }
    // The text as drawn at the line's present width.
    QString shownText() const {
        const QFontMetrics fm(font());
        if (fm.horizontalAdvance(text_) <= width()) return text_;
        if (keepFrom_ > 0) {
            const QString end = text_.mid(keepFrom_);
            const int room = width() - fm.horizontalAdvance(end);
            const QString start = fm.elidedText(text_.left(keepFrom_), Qt::ElideRight, room);
            if (room > 0 && !start.isEmpty()) return start + end;
        }
        return fm.elidedText(text_, Qt::ElideRight, width());
    }
    void setColor(ColorRole color) {
        if (color == color_) return;
        color_ = color;
        update();
    }

    QSize sizeHint() const override {
        QFontMetrics fm(font());
        return {fm.horizontalAdvance(text_), fm.height()};
    }
    QSize minimumSizeHint() const override {
        return elidable_ ? QSize(0, QFontMetrics(font()).height()) : sizeHint();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        p.setPen(color_());
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
    }

private:
    QString text_;
    qsizetype keepFrom_ = -1;
    ColorRole color_;
    bool elidable_;
};

// ---------------------------------------------------------------------------

const QString EstBadge::kExplanation = QStringLiteral(
    "This model is not in the rate table yet, so it is priced with a source-specific fallback and may differ from "
    "the true API price.");

EstBadge::EstBadge(QWidget* parent) : QAbstractButton(parent) {
    setText(QStringLiteral("⚑ est"));
    setFont(BrandFont::sans(10, QFont::Medium));
    setCursor(Qt::ArrowCursor);
    // A click does not take the focus from a name being edited.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { setShown(!show_); });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

void EstBadge::setShown(bool show) {
    if (show == show_) return;
    show_ = show;
    if (show) {
        // Above the badge, below it when there is no room above.
        if (!popover_) {
            popover_ = new ExplanationPopup(this, kExplanation, 220, ExplanationPopup::Side::above, 4,
                                            [this] { setShown(false); });
        }
        static_cast<ExplanationPopup*>(popover_.data())->showAtButton();
    } else if (popover_ && popover_->isVisible()) {
        popover_->hide();
    }
}

QSize EstBadge::sizeHint() const {
    QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()), fm.height()};
}

void EstBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(BrandColor::warn());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void EstBadge::hideEvent(QHideEvent* e) {
    QAbstractButton::hideEvent(e);
    // A badge that goes (the row is no longer estimated) takes its open
    // explanation with it.
    setShown(false);
}

// ---------------------------------------------------------------------------

HistoryRow::HistoryRow(const SessionRow& row, MetadataStore& meta, TimePoint now, QWidget* parent)
    : QWidget(parent), store_(meta), row_(row) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(20, 11, 20, 11);
    h->setSpacing(10);

    dot_ = new LiveDot;
    h->addLayout(dotColumn(dot_, 5));

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    name_ = new InlineField(store_, InlineField::Edits::name, QStringLiteral("Topic"),
                            BrandFont::sans(13, QFont::Medium), &BrandColor::text);
    note_ = new InlineField(store_, InlineField::Edits::note, QStringLiteral("Add a note…"), BrandFont::sans(12),
                            &BrandColor::textMuted);
    for (InlineField* f : {name_, note_}) f->setRow(row_.id, row_.title);
    // As tall as a line of their text and the edit underline, so the
    // fields stack as closely as the lines of text below them.
    for (InlineField* f : {name_, note_}) f->setFixedHeight(QFontMetrics(f->font()).height() + 2);
    text->addWidget(name_);
    text->addWidget(note_);

    auto* infoRow = new QHBoxLayout;
    infoRow->setSpacing(5);
    info_ = new TextLine(BrandFont::sans(11), &BrandColor::textFaint, true);
    est_ = new EstBadge;
    infoRow->addWidget(info_, 0, Qt::AlignVCenter);
    infoRow->addWidget(est_, 0, Qt::AlignVCenter);
    infoRow->addStretch(1);
    text->addLayout(infoRow);

    tags_ = new TagEditor(store_, qs(row_.id));
    text->addWidget(tags_, 0, Qt::AlignLeft);

    modelsBox_ = new QVBoxLayout;
    modelsBox_->setSpacing(3);
    text->addLayout(modelsBox_);

    subagentsPane_ = new QWidget;
    subagentsBox_ = new QVBoxLayout(subagentsPane_);
    subagentsBox_->setContentsMargins(0, 2, 0, 0);
    subagentsBox_->setSpacing(3);
    text->addWidget(subagentsPane_);
    text->addStretch(1);
    h->addLayout(text, 1);

    auto cell = [h](QLabel* label) {
        auto* column = new QVBoxLayout;
        column->setContentsMargins(0, 2, 0, 0);
        column->addWidget(label);
        column->addStretch(1);
        h->addLayout(column);
    };
    today_ = costLabel(BrandFont::sansMonospacedDigits(14, QFont::Medium));
    total_ = costLabel(BrandFont::sansMonospacedDigits(14, QFont::DemiBold));
    cell(today_);
    cell(total_);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &HistoryRow::applyColors);

    // Everything below compares with what is shown: start from nothing.
    showInfo(now);
    est_->setVisible(row_.hasEstimated());
    updateModelLines();
    updateSubagentLines(now);
    today_->setText(row_.today > 0 ? money(row_.today) : QStringLiteral("—"));
    total_->setText(money(row_.total));
    dot_->setState(row_.isLive(now));
    applyColors();
}

QString HistoryRow::infoLine(const SessionRow& row, TimePoint now) {
    QStringList pieces;
    // A conversation without a project folder starts with its model, not
    // with a lone separator.
    if (!row.project.empty()) pieces << isolated(row.project);
    if (std::string model = row.primaryModel(); !model.empty()) pieces << isolated(model);
    if (int n = row.subagentCount(); n >= 1) {
        pieces << QString::number(n) + (n == 1 ? QStringLiteral(" subagent") : QStringLiteral(" subagents"));
    }
    pieces << QStringLiteral("started ") + shortStamp(row.startTime);
    pieces << QStringLiteral("active ") + relativeTime(row.lastActivity, now);
    return pieces.join(kSeparator);
}

QString HistoryRow::modelLineText(const ModelLine& line) {
    QString t = isolated(line.name) + kSeparator + money(line.cost);
    if (line.estimated) t += QStringLiteral("  ⚑ est");
    return t;
}

bool HistoryRow::showsModelLines(const SessionRow& row) { return row.isMixed() || row.hasEstimated(); }

void HistoryRow::setRow(const SessionRow& row, TimePoint now) {
    // The name and note fall back to the title, and read the store again
    // when it changes; anything else they show comes from the store, which
    // says when it changes.
    const bool sameModels = row.models == row_.models;
    row_ = row;
    name_->setRow(row_.id, row_.title);
    note_->setRow(row_.id, row_.title);
    showInfo(now);
    const bool estimated = row_.hasEstimated();
    if (est_->isVisibleTo(this) != estimated) est_->setVisible(estimated);
    if (!sameModels) updateModelLines();
    updateSubagentLines(now);
    QString today = row_.today > 0 ? money(row_.today) : QStringLiteral("—");
    if (today_->text() != today) {
        today_->setText(today);
        setTextColor(today_, row_.today > 0 ? BrandColor::text() : BrandColor::textFaint());
    }
    QString total = money(row_.total);
    if (total_->text() != total) total_->setText(total);
    const bool live = row_.isLive(now);
    if (dot_->isLive() != live) dot_->setState(live);
}

void HistoryRow::refreshMeta() {
    name_->refresh();
    note_->refresh();
    tags_->refresh();
}

bool HistoryRow::isInUse() const {
    if (QWidget* f = QApplication::focusWidget(); f && isAncestorOf(f)) return true;
    // Popups are windows of their own, parented to the button they hang
    // from inside the row.
    for (QWidget* p = QApplication::activePopupWidget(); p; p = p->parentWidget()) {
        if (p == this) return true;
    }
    return false;
}

void HistoryRow::updateModelLines() {
    const size_t wanted = showsModelLines(row_) ? row_.models.size() : 0;
    while (models_.size() > wanted) {
        delete models_.back();
        models_.pop_back();
    }
    while (models_.size() < wanted) {
        auto* line = new TextLine(BrandFont::sans(11), &BrandColor::textFaint, true);
        modelsBox_->addWidget(line);
        models_.push_back(line);
    }
    for (size_t i = 0; i < wanted; ++i) {
        const ModelLine& m = row_.models[i];
        // The cost stays whole; a long model name is cut before it.
        models_[i]->setText(modelLineText(m), isolated(m.name).size());
        models_[i]->setColor(m.estimated ? &BrandColor::warn : &BrandColor::textFaint);
    }
}

void HistoryRow::updateSubagentLines(TimePoint now) {
    const size_t wanted = row_.subagents.size();
    while (subagents_.size() > wanted) {
        delete subagents_.back().box;
        subagents_.pop_back();
    }
    while (subagents_.size() < wanted) {
        auto* box = new QWidget;
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(5);
        auto* symbol = new platform::SymbolView(QStringLiteral("arrow.turn.down.right"), &BrandColor::textFaint, 11);
        auto* name = new TextLine(BrandFont::sans(11), &BrandColor::textFaint, true);
        auto* detail = new TextLine(BrandFont::sans(11), &BrandColor::textFaint, false);
        line->addWidget(symbol, 0, Qt::AlignVCenter);
        line->addWidget(name, 0, Qt::AlignVCenter);
        line->addWidget(detail, 0, Qt::AlignVCenter);
        line->addStretch(1);
        subagentsBox_->addWidget(box);
        subagents_.push_back({box, name, detail});
    }
    for (size_t i = 0; i < wanted; ++i) {
        const SubagentRow& s = row_.subagents[i];
        subagents_[i].name->setText(qs(s.name));
        subagents_[i].detail->setText(QStringLiteral("· ") + money(s.total) + kSeparator +
                                      relativeTime(s.lastActivity, now));
    }
    if (subagentsPane_->isVisibleTo(this) != (wanted > 0)) subagentsPane_->setVisible(wanted > 0);
}

void HistoryRow::applyColors() {
    setTextColor(today_, row_.today > 0 ? BrandColor::text() : BrandColor::textFaint());
    setTextColor(total_, BrandColor::text());
    // The text lines read their colour when they paint.
    update();
}

void HistoryRow::showInfo(TimePoint now) {
    // The last piece, "active 5m ago", is the one that changes: it stays
    // whole, and the pieces before it are cut when the line is too long.
    const QString line = infoLine(row_, now);
    info_->setText(line, line.lastIndexOf(kSeparator));
}

QString HistoryRow::infoText() const { return info_->text(); }

QString HistoryRow::shownInfoText() const { return info_->shownText(); }

QStringList HistoryRow::shownModelLines() const {
    QStringList out;
    for (TextLine* l : models_) out << l->shownText();
    return out;
}

QStringList HistoryRow::modelLines() const {
    QStringList out;
    for (TextLine* l : models_) out << l->text();
    return out;
}

QStringList HistoryRow::subagentLines() const {
    QStringList out;
    for (const SubagentLine& l : subagents_) out << l.name->text() + QStringLiteral(" ") + l.detail->text();
    return out;
}

}  // namespace vorel
