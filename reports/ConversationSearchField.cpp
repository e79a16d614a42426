#include "reports/ConversationSearchField.h"

#include <QEnterEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "engine/CostModel.h"
#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/AppModel.h"
#include "shell/Formatting.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr double kRadius = 6;

// What matching compares: the text in lower case and composed, so that an
// accented letter typed precomposed finds the same letter written with a
// combining accent (as in decomposed file names), and the other way round.
QString searchKey(const QString& s) {
    const QString lower = s.toLower();
    icu::UnicodeString u(reinterpret_cast<const UChar*>(lower.utf16()), static_cast<int32_t>(lower.size()));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return lower;
    icu::UnicodeString composed = nfc->normalize(u, status);
    if (U_FAILURE(status)) return lower;
    return QString(reinterpret_cast<const QChar*>(composed.getBuffer()), composed.length());
}

QPainterPath roundedPath(const QRectF& r) {
    QPainterPath path;
    path.addRoundedRect(r, kRadius, kRadius);
    return path;
}

}  // namespace

// ---------------------------------------------------------------------------

// The floating list below the field: a child of the top-level window,
// drawn as a raised card with a soft shadow.
class SearchResultsPanel : public QWidget {
public:
    explicit SearchResultsPanel(QWidget* window) : QWidget(window) {
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        auto* v = new QVBoxLayout(this);
        // One pixel of border on every side stays clear of the lines.
        v->setContentsMargins(1, 1, 1, 1);
        v->setSpacing(0);
        v->setSizeConstraint(QLayout::SetNoConstraint);
        layout_ = v;

        empty_ = new QLabel(this);
        empty_->setTextFormat(Qt::PlainText);
        empty_->setFont(BrandFont::sans(11));
        empty_->setWordWrap(true);
        empty_->setContentsMargins(10 - 1, 10 - 1, 10 - 1, 10 - 1);
        v->addWidget(empty_);

        auto* shadow = new QGraphicsDropShadowEffect(this);
        shadow->setColor(QColor(0, 0, 0, qRound(0.16 * 255)));
        shadow->setBlurRadius(12);
        shadow->setOffset(0, 4);
        setGraphicsEffect(shadow);
        applyColors();
    }

    // Lists `count` lines (made as first needed) or, when `count` is 0,
    // the message.
    SearchResultRow* row(size_t i) {
        while (rows_.size() <= i) {
            auto* r = new SearchResultRow(this);
            layout_->addWidget(r);
            rows_.push_back(r);
        }
        return rows_[i];
    }
    void showRows(size_t count, const QString& message) {
        for (size_t i = 0; i < rows_.size(); ++i) rows_[i]->setVisible(i < count);
        empty_->setVisible(count == 0);
        if (count == 0 && empty_->text() != message) empty_->setText(message);
    }
    std::vector<SearchResultRow*> visibleRows() const {
        std::vector<SearchResultRow*> out;
        for (SearchResultRow* r : rows_)
            if (!r->isHidden()) out.push_back(r);
        return out;
    }
    QString message() const { return empty_->isHidden() ? QString() : empty_->text(); }

    void applyColors() {
        BrandColor::setTextColor(empty_, BrandColor::textFaint());
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(BrandColor::border(), 1));
        p.setBrush(BrandColor::bgElevated());
        p.drawPath(roundedPath(r));
    }

private:
    QVBoxLayout* layout_;
    QLabel* empty_;
    std::vector<SearchResultRow*> rows_;
};

// ---------------------------------------------------------------------------

SearchResultRow::SearchResultRow(QWidget* parent) : HoverButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover, true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SearchResultRow::setContent(const QString& rowId, const QString& title, const QString& detail,
                                 const QString& amount, bool isSelected) {
    if (rowId == rowId_ && title == title_ && detail == detail_ && amount == amount_ && isSelected == selected_) return;
    rowId_ = rowId;
    title_ = title;
    detail_ = detail;
    amount_ = amount;
    selected_ = isSelected;
    update();
}

QSize SearchResultRow::sizeHint() const {
    QFontMetrics title(BrandFont::sans(12, QFont::Medium));
    QFontMetrics detail(BrandFont::sans(10));
    return {ConversationSearchField::kWidth - 2, 6 + title.height() + 1 + detail.height() + 6};
}

void SearchResultRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isHighlighted()) {
        // Inside the panel's rounded corners.
        QPainterPath clip;
        if (QWidget* panel = parentWidget()) {
            clip = roundedPath(QRectF(panel->rect()).adjusted(1, 1, -1, -1)).translated(-QPointF(pos()));
            p.setClipPath(clip);
        }
        p.fillRect(rect(), BrandColor::bgSubtle());
        p.setClipping(false);
    }

    const QFont titleFont = BrandFont::sans(12, QFont::Medium);
    const QFont detailFont = BrandFont::sans(10);
    const QFont amountFont = BrandFont::sansMonospacedDigits(11);
    const QFontMetrics tm(titleFont), dm(detailFont), am(amountFont);
    const QRect inner = rect().adjusted(9, 6, -9, -6);

    const int amountWidth = am.horizontalAdvance(amount_);
    p.setFont(amountFont);
    p.setPen(BrandColor::textMuted());
    p.drawText(QRect(inner.right() + 1 - amountWidth, inner.top(), amountWidth, inner.height()),
               Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, amount_);

    const int textWidth = std::max(0, inner.width() - amountWidth - 8);
    const int stackHeight = tm.height() + 1 + dm.height();
    const int top = inner.top() + (inner.height() - stackHeight) / 2;
    p.setFont(titleFont);
    p.setPen(BrandColor::text());
    p.drawText(QRect(inner.left(), top, textWidth, tm.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               tm.elidedText(title_, Qt::ElideRight, textWidth));
    p.setFont(detailFont);
    p.setPen(BrandColor::textFaint());
    p.drawText(QRect(inner.left(), top + tm.height() + 1, textWidth, dm.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, dm.elidedText(detail_, Qt::ElideRight, textWidth));
}

// ---------------------------------------------------------------------------

ConversationSearchField::ConversationSearchField(AppModel& model, QWidget* parent) : QWidget(parent), app_(model) {
    setFixedWidth(kWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(8, 5, 8, 5);
    h->setSpacing(6);

    glass_ = new QLabel;
    glass_->setFixedSize(11, 11);
    h->addWidget(glass_, 0, Qt::AlignVCenter);

    edit_ = new QLineEdit;
    edit_->setFrame(false);
    edit_->setFont(BrandFont::sans(12));
    edit_->setTextMargins(-2, 0, 0, 0);
    edit_->setAttribute(Qt::WA_MacShowFocusRect, false);
    edit_->installEventFilter(this);
    h->addWidget(edit_, 1, Qt::AlignVCenter);

    clear_ = new QToolButton;
    clear_->setAutoRaise(true);
    clear_->setFocusPolicy(Qt::NoFocus);  // clearing leaves the focus where it is
    clear_->setCursor(Qt::ArrowCursor);
    clear_->setIconSize(QSize(10, 10));
    clear_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    clear_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));
    clear_->setVisible(false);
    h->addWidget(clear_, 0, Qt::AlignVCenter);

    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) {
        clear_->setVisible(!text.isEmpty());
        if (isPanelOpen()) updatePanel();
    });
    connect(clear_, &QToolButton::clicked, edit_, &QLineEdit::clear);
    connect(&app_, &AppModel::refreshed, this, &ConversationSearchField::onRefreshed);
    connect(&app_, &AppModel::metaChanged, this, &ConversationSearchField::onMetaChanged);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this,
            &ConversationSearchField::applyColors);

    setFixedHeight(h->sizeHint().height());
    applyColors();
    updatePlaceholder();
}

ConversationSearchField::~ConversationSearchField() {
    watchAncestors(false);
    // The panel belongs to the window, which may outlive the field.
    delete panel_.data();
}

void ConversationSearchField::setSelectedId(const QString& rowId) {
    if (rowId == selectedId_) return;
    selectedId_ = rowId;
    updatePlaceholder();
    if (isPanelOpen()) updatePanel();
}

QString ConversationSearchField::query() const { return edit_->text(); }

bool ConversationSearchField::isPanelOpen() const { return panel_ && !panel_->isHidden(); }

QWidget* ConversationSearchField::resultsPanel() const { return panel_.data(); }

std::vector<SearchResultRow*> ConversationSearchField::resultRows() const {
    return isPanelOpen() ? panel_->visibleRows() : std::vector<SearchResultRow*>{};
}

QString ConversationSearchField::noMatchText() const { return isPanelOpen() ? panel_->message() : QString(); }

// ---------------------------------------------------------------------------
// Matching

const ConversationSearchField::Searchable& ConversationSearchField::searchable(size_t index) const {
    const std::vector<SessionRow>& rows = app_.model().allRows();
    if (cache_.size() != rows.size()) {
        cache_.clear();
        cache_.resize(rows.size());
    }
    std::optional<Searchable>& slot = cache_[index];
    if (!slot) {
        const SessionRow& row = rows[index];
        const MetadataStore& meta = app_.meta();
        Searchable s;
        s.topic = qs(meta.topic(row.id, row.title));
        s.topicKey = searchKey(s.topic);
        s.titleKey = searchKey(qs(row.title));
        s.projectKey = searchKey(qs(row.project));
        s.sourceKey = searchKey(qs(row.source));
        for (const std::string& tag : meta.tags(row.id)) s.tagKeys.push_back(searchKey(qs(tag)));
        slot = std::move(s);
    }
    return *slot;
}

std::vector<size_t> ConversationSearchField::matches(const QString& query) const {
    const QString q = searchKey(trimSpacesAndTabs(query));
    const size_t count = app_.model().allRows().size();
    std::vector<size_t> out;
    for (size_t i = 0; i < count && out.size() < kMaxResults; ++i) {
        if (q.isEmpty()) {
            out.push_back(i);
            continue;
        }
        const Searchable& s = searchable(i);
        bool hit = s.topicKey.contains(q) || s.titleKey.contains(q) || s.projectKey.contains(q) ||
                   s.sourceKey.contains(q) ||
                   std::any_of(s.tagKeys.begin(), s.tagKeys.end(), [&](const QString& t) { return t.contains(q); });
        if (hit) out.push_back(i);
    }
    return out;
}

QString ConversationSearchField::placeholder() const {
    const std::vector<SessionRow>& rows = app_.model().allRows();
    const std::string id = selectedId_.toStdString();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].id == id) return searchable(i).topic;
    }
    return QStringLiteral("Search conversations");
}

void ConversationSearchField::invalidate() { cache_.clear(); }

void ConversationSearchField::onRefreshed() {
    invalidate();
    updatePlaceholder();
    if (isPanelOpen()) updatePanel();
}

void ConversationSearchField::onMetaChanged() {
    invalidate();
    updatePlaceholder();
    if (isPanelOpen()) updatePanel();
}

void ConversationSearchField::updatePlaceholder() {
    QString text = placeholder();
    if (edit_->placeholderText() != text) edit_->setPlaceholderText(text);
}

// ---------------------------------------------------------------------------
// The panel

void ConversationSearchField::openPanel() {
    QWidget* win = window();
    if (win == this) return;  // nowhere to float
    if (panel_ && panel_->parentWidget() != win) delete panel_.data();
    if (!panel_) {
        panel_ = new SearchResultsPanel(win);
        panel_->hide();
        panel_->setFixedWidth(width());
        for (int i = 0; i < static_cast<int>(kMaxResults); ++i) {
            SearchResultRow* row = panel_->row(static_cast<size_t>(i));
            connect(row, &QAbstractButton::clicked, this, [this, row] { pick(row->rowId()); });
        }
    }
    updatePanel();
    panel_->show();
    panel_->raise();
    watchAncestors(true);
    update();
}

void ConversationSearchField::closePanel() {
    watchAncestors(false);
    if (panel_) panel_->hide();
    update();
}

void ConversationSearchField::updatePanel() {
    if (!panel_) return;
    const std::vector<SessionRow>& rows = app_.model().allRows();
    const std::vector<size_t> found = matches(query());
    const TimePoint now = clock().now();
    for (size_t k = 0; k < found.size(); ++k) {
        const SessionRow& row = rows[found[k]];
        QString detail = qs(row.source);
        if (!row.project.empty()) detail += QStringLiteral(" · ") + isolated(row.project);
        detail += QStringLiteral(" · ") + relativeTime(row.lastActivity, now);
        const QString id = qs(row.id);
        panel_->row(k)->setContent(id, searchable(found[k]).topic, detail, money(row.total), id == selectedId_);
    }
    panel_->showRows(found.size(),
                     QStringLiteral("No conversations match \u201C") + isolated(query()) + QStringLiteral("\u201D."));
    placePanel();
}

void ConversationSearchField::placePanel() {
    if (!panel_) return;
    QWidget* win = panel_->parentWidget();
    if (!win) return;
    panel_->setFixedWidth(width());
    const int w = width();
    panel_->layout()->invalidate();
    int h = panel_->layout()->heightForWidth(w);
    if (h < 0) h = panel_->sizeHint().height();
    const QPoint top = mapTo(win, QPoint(0, 0));
    const int below = top.y() + kPanelOffset;
    const int gap = kPanelOffset - height();
    // Below the field; above it when only that side has room; when
    // neither has, on the roomier side, cut to the window's edge. The field
    // itself stays uncovered.
    const int roomBelow = win->height() - below;
    const int roomAbove = top.y() - gap;
    int y = below;
    if (h > roomBelow) {
        if (h <= roomAbove) {
            y = roomAbove - h;
        } else if (roomAbove > roomBelow) {
            h = std::max(1, roomAbove);
            y = 0;
        } else {
            h = std::max(1, roomBelow);
        }
    }
    const int x = std::clamp(top.x(), 0, std::max(0, win->width() - w));
    panel_->setGeometry(x, y, w, h);
    panel_->raise();
}

void ConversationSearchField::watchAncestors(bool watch) {
    for (const QPointer<QWidget>& w : watched_)
        if (w) w->removeEventFilter(this);
    watched_.clear();
    if (!watch) return;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        w->installEventFilter(this);
        watched_.emplace_back(w);
        if (w->isWindow()) break;
    }
}

void ConversationSearchField::pick(QString rowId) {
    // `rowId` is a copy: the line it came from is refilled below.
    selectedId_ = rowId;
    closePanel();
    edit_->clear();
    edit_->clearFocus();
    updatePlaceholder();
    emit picked(rowId);
}

// ---------------------------------------------------------------------------
// Events

bool ConversationSearchField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_) {
        switch (event->type()) {
        case QEvent::FocusIn:
            openPanel();
            break;
        case QEvent::FocusOut: {
            // The field's own context menu takes the focus for a moment;
            // the search goes on behind it.
            auto* fe = static_cast<QFocusEvent*>(event);
            if (fe->reason() != Qt::PopupFocusReason) closePanel();
            break;
        }
        case QEvent::ShortcutOverride: {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (ke->key() == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::KeyPress: {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (ke->key() == Qt::Key_Escape) {
                edit_->clear();
                edit_->clearFocus();
                closePanel();
                return true;
            }
            // Return picks nothing and reaches no default button.
            if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) return true;
            break;
        }
        default:
            break;
        }
        return false;
    }
    // An ancestor moved or was resized: the panel follows the field.
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
        if (isPanelOpen()) placePanel();
    }
    return false;
}

void ConversationSearchField::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(edit_->hasFocus() ? BrandColor::accent() : BrandColor::border(), 1));
    p.setBrush(BrandColor::bgSubtle());
    p.drawPath(roundedPath(r));
}

void ConversationSearchField::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ParentChange) {
        // Moved to another window: the panel is made again under it.
        closePanel();
        delete panel_.data();
        if (edit_->hasFocus()) openPanel();
    }
}

void ConversationSearchField::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    closePanel();
}

void ConversationSearchField::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    if (isPanelOpen()) placePanel();
}

void ConversationSearchField::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (isPanelOpen()) placePanel();
}

void ConversationSearchField::applyColors() {
    BrandColor::styleTextField(edit_, BrandColor::text());
    glass_->setPixmap(platform::symbolPixmap(QStringLiteral("magnifyingglass"), BrandColor::textFaint(), 11,
                                             devicePixelRatioF()));
    clear_->setIcon(platform::symbolIcon(QStringLiteral("xmark.circle.fill"), BrandColor::textFaint(), 10));
    if (panel_) {
        panel_->applyColors();
        for (SearchResultRow* r : panel_->visibleRows()) r->update();
    }
    update();
}

}  // namespace vorel
