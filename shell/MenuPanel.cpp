#include "MenuPanel.h"

#include <QApplication>
#include <QDateTime>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "AppModel.h"
#include "Appearance.h"
#include "CostModel.h"
#include "Formatting.h"
#include "InlineField.h"
#include "MainWindow.h"
#include "MetadataStore.h"
#include "SaveStatusLine.h"
#include "PlainLabel.h"
#include "Popup.h"
#include "Symbols.h"
#include "Theme.h"

namespace vorel {

namespace {

void tint(QWidget* w, const QColor& c) { w->setStyleSheet(QStringLiteral("color: %1;").arg(BrandColor::css(c))); }

QString qs(const std::string& s) { return QString::fromStdString(s); }

constexpr int kBorder = 1;

}  // namespace

QLabel* microLabel(const QString& text, QWidget* parent) {
    QLabel* l = plainLabel(text.toUpper(), BrandFont::caption(), parent);
    tint(l, BrandColor::textMuted());
    QObject::connect(&platform::Appearance::shared(), &platform::Appearance::changed, l,
                     [l] { tint(l, BrandColor::textMuted()); });
    return l;
}

// ---------------------------------------------------------------------------

CommandButton::CommandButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setFont(BrandFont::sans(12, QFont::Medium));
    // Reached with Tab, but a click does not take the focus from a name
    // being edited.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, true);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

QColor CommandButton::textColor() const { return hover_ || hasFocus() ? BrandColor::accent() : BrandColor::textMuted(); }

QSize CommandButton::sizeHint() const {
    QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()), fm.height()};
}

void CommandButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(textColor());
    p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
}

void CommandButton::enterEvent(QEnterEvent* e) {
    QAbstractButton::enterEvent(e);
    hover_ = true;
    update();
}

void CommandButton::leaveEvent(QEvent* e) {
    QAbstractButton::leaveEvent(e);
    hover_ = false;
    update();
}

// A panel that closes under the pointer (after "Open Vorel", or a click
// outside) sends no leave: the hover ends with it, or the command would
// still be lit when the panel opens again.
void CommandButton::hideEvent(QHideEvent* e) {
    QAbstractButton::hideEvent(e);
    hover_ = false;
}

// ---------------------------------------------------------------------------

const QString HeroToday::kInfoText = QStringLiteral(
    "These are API-equivalent estimates from local Claude Code and Codex transcripts. Subscription or credit "
    "billing may differ.");

HeroToday::HeroToday(CostModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(3);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    today_ = microLabel(QStringLiteral("Today"));
    date_ = plainLabel(QString(), BrandFont::sans(11));
    top->addWidget(today_);
    top->addStretch(1);
    top->addWidget(date_);
    v->addLayout(top);

    amount_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(33, QFont::DemiBold));
    v->addWidget(amount_);

    auto* note = new QHBoxLayout;
    note->setSpacing(5);
    estimate_ = plainLabel(QStringLiteral("API-equivalent estimate"), BrandFont::sans(11));
    info_ = new QToolButton;
    info_->setAutoRaise(true);
    info_->setFocusPolicy(Qt::TabFocus);
    info_->setIconSize(QSize(11, 11));
    info_->setCursor(Qt::ArrowCursor);
    info_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    info_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));
    connect(info_, &QToolButton::clicked, this, [this] { setShowInfo(!showInfo_); });
    note->addWidget(estimate_);
    note->addWidget(info_);
    note->addStretch(1);
    v->addLayout(note);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &HeroToday::applyColors);
    applyColors();
}

void HeroToday::refresh(TimePoint now) {
    QDate day = QDateTime::fromMSecsSinceEpoch(now.time_since_epoch().count(), Qt::LocalTime).date();
    date_->setText(QLocale().toString(day, QStringLiteral("ddd, MMM d")));
    amount_->setText(money(model_.todayCost()));
}

void HeroToday::setShowInfo(bool show) {
    if (show == showInfo_) return;
    showInfo_ = show;
    if (show) {
        // Below the button, above it when there is no room below.
        if (!popover_) {
            popover_ = new ExplanationPopup(info_, kInfoText, 240, ExplanationPopup::Side::below, 2,
                                            [this] { setShowInfo(false); });
        }
        static_cast<ExplanationPopup*>(popover_.data())->showAtButton();
    } else if (popover_ && popover_->isVisible()) {
        popover_->hide();
    }
}

void HeroToday::applyColors() {
    tint(date_, BrandColor::textFaint());
    tint(amount_, BrandColor::text());
    tint(estimate_, BrandColor::textMuted());
    info_->setIcon(platform::symbolIcon(QStringLiteral("info.circle"), BrandColor::textFaint(), 11));
}

// ---------------------------------------------------------------------------

const QString MetaLine::kMark = QStringLiteral("⚑\u00A0est");

MetaLine::MetaLine(QWidget* parent) : QWidget(parent) {
    setFont(BrandFont::sans(11));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

void MetaLine::setText(const QString& line) {
    if (line == line_) return;
    line_ = line;
    updateGeometry();
    update();
}

void MetaLine::setMark(bool shown) {
    if (shown == mark_) return;
    mark_ = shown;
    updateGeometry();
    update();
}

QString MetaLine::shownText() const {
    // An en space before the mark: a little more room than a word gap, and
    // a place where the text may wrap. The mark's own space does not break.
    return mark_ ? line_ + QChar(0x2002) + kMark : line_;
}

double MetaLine::layOut(QTextLayout& layout, double width) const {
    layout.setText(shownText());
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(layoutDirection());
    layout.setTextOption(option);
    const double lineHeight = QFontMetricsF(font()).height();
    double y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += lineHeight;
    }
    layout.endLayout();
    return y;
}

int MetaLine::lineCount() const {
    QTextLayout layout;
    layOut(layout, width());
    return layout.lineCount();
}

int MetaLine::heightForWidth(int width) const {
    QTextLayout layout;
    return int(std::ceil(layOut(layout, std::max(width, 1))));
}

QSize MetaLine::sizeHint() const {
    const QFontMetricsF fm(font());
    return {int(std::ceil(fm.horizontalAdvance(shownText()))), int(std::ceil(fm.height()))};
}

QSize MetaLine::minimumSizeHint() const {
    const QFontMetricsF fm(font());
    return {int(std::ceil(fm.horizontalAdvance(kMark))), int(std::ceil(fm.height()))};
}

void MetaLine::paintEvent(QPaintEvent*) {
    QTextLayout layout;
    layOut(layout, width());
    QVector<QTextLayout::FormatRange> formats;
    if (mark_) {
        QTextLayout::FormatRange range;
        range.start = int(line_.size()) + 1;
        range.length = int(kMark.size());
        range.format.setForeground(BrandColor::warn());
        formats.push_back(range);
    }
    QPainter p(this);
    p.setPen(BrandColor::textFaint());
    layout.draw(&p, QPointF(0, 0), formats);
}

void MetaLine::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange) updateGeometry();
}

// ---------------------------------------------------------------------------

TodayRow::TodayRow(MetadataStore& meta, const std::string& rowId, QWidget* parent)
    : QWidget(parent), store_(meta), id_(rowId) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);

    dot_ = new LiveDot;
    auto* dotColumn = new QVBoxLayout;
    dotColumn->setContentsMargins(0, 3, 0, 0);
    dotColumn->addWidget(dot_);
    dotColumn->addStretch(1);
    h->addLayout(dotColumn);

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    name_ = new InlineField(
        [this] { return qs(store_.topic(id_, row_.title)); },
        [this](const QString& text) { store_.setName(text.toStdString(), id_); }, QStringLiteral("Topic"),
        BrandFont::sans(13, QFont::Medium), &BrandColor::text);
    names->addWidget(name_);
    meta_ = new MetaLine;
    names->addWidget(meta_);
    names->addStretch(1);
    h->addLayout(names, 1);

    h->addSpacing(8);

    auto* amounts = new QVBoxLayout;
    amounts->setSpacing(1);
    today_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(14, QFont::Medium));
    total_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(10));
    amounts->addWidget(today_, 0, Qt::AlignRight);
    amounts->addWidget(total_, 0, Qt::AlignRight);
    amounts->addStretch(1);
    h->addLayout(amounts);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &TodayRow::applyColors);
    applyColors();
}

QString TodayRow::metaLine(const SessionRow& row, TimePoint now) {
    QStringList parts;
    if (!row.source.empty()) parts << qs(row.source);
    std::string model = row.primaryModel();
    if (!model.empty()) parts << isolated(model);
    if (row.subagentCount() >= 1) parts << QString::number(row.subagentCount()) + QStringLiteral(" sub");
    parts << relativeTime(row.lastActivity, now);
    return parts.join(QStringLiteral(" · "));
}

// The name field asks this row for the stored name when its edit ends, and
// the focus change of the teardown in QWidget's destructor would end it
// after this row's members are gone: the field goes first.
TodayRow::~TodayRow() { delete name_; }

void TodayRow::setRow(const SessionRow& row, bool isCurrent, TimePoint now) {
    row_ = row;
    isCurrent_ = isCurrent;
    name_->refresh();
    meta_->setMark(row.hasEstimated());
    today_->setText(money(row.today));
    total_->setText(QStringLiteral("total ") + money(row.total));
    updateClock(now);
}

void TodayRow::updateClock(TimePoint now) {
    meta_->setText(metaLine(row_, now));
    bool live = row_.isLive(now);
    // Live pulses, the current conversation shows a steady accent disc,
    // any other an empty ring.
    if (live || isCurrent_) dot_->setState(live, BrandColor::accent());
    else dot_->setState(false);
}

void TodayRow::refreshTopic() { name_->refresh(); }

void TodayRow::applyColors() {
    tint(today_, BrandColor::text());
    tint(total_, BrandColor::textFaint());
    // The dot's fill is a colour value: take the new accent.
    bool live = dot_->isLive();
    if (live || isCurrent_) dot_->setState(live, BrandColor::accent());
}

// ---------------------------------------------------------------------------

CommandRow::CommandRow(AppModel& app, QWidget* parent) : QWidget(parent) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(14);
    open_ = new CommandButton(QStringLiteral("Open Vorel"));
    quit_ = new CommandButton(QStringLiteral("Quit"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    h->addWidget(open_);
    h->addStretch(1);
    h->addWidget(quit_);

    connect(open_, &QAbstractButton::clicked, this, [this, &app] {
        window()->close();
        MainWindow::show(app, Section::history);
    });
    // Nothing needs saving: every change is already in the metadata file.
    // The event loop ends at once; QApplication::quit() would first ask
    // every window to close, and the main window, which only hides when
    // closed, would cancel the quit.
    connect(quit_, &QAbstractButton::clicked, qApp, [] { QCoreApplication::exit(0); });
}

// ---------------------------------------------------------------------------

MenuContent::MenuContent(AppModel& app, QWidget* parent) : QWidget(parent), app_(app) {
    setFixedWidth(kWidth);
    setAutoFillBackground(true);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(14);

    v->addWidget(new SaveStatusLine(app.meta()));
    hero_ = new HeroToday(app.model());
    v->addWidget(hero_);
    v->addWidget(new Hairline);

    auto* list = new QVBoxLayout;
    list->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->addWidget(microLabel(QStringLiteral("Today's conversations")));
    header->addStretch(1);
    header->addWidget(microLabel(QStringLiteral("Today's costs")));
    list->addLayout(header);
    empty_ = plainLabel(QStringLiteral("No conversations yet today."), BrandFont::sans(12));
    list->addWidget(empty_);
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setSpacing(10);
    list->addLayout(rowsLayout_);
    more_ = plainLabel(QString(), BrandFont::sans(11));
    list->addWidget(more_);
    v->addLayout(list);

    v->addWidget(new Hairline);
    commands_ = new CommandRow(app);
    v->addWidget(commands_);

    // A tick updates what is shown in place; a hidden panel only notes that
    // it is behind and catches up when it shows.
    connect(&app_, &AppModel::refreshed, this, [this] {
        if (isVisible()) refresh();
        else stale_ = true;
    });
    connect(&app_, &AppModel::metaChanged, this, [this] {
        if (isVisible()) refreshTopics();
        else stale_ = true;
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &MenuContent::applyColors);
    applyColors();
    refresh();
}

void MenuContent::refresh() {
    stale_ = false;
    const TimePoint now = clock().now();
    const CostModel& model = app_.model();
    hero_->refresh(now);

    const std::vector<SessionRow>& all = model.todayRows();
    const SessionRow* header = model.headerRow();
    const size_t shown = std::min(all.size(), kMaxRows);

    std::unordered_map<std::string, TodayRow*> kept;
    std::vector<TodayRow*> order;
    order.reserve(shown);
    for (size_t i = 0; i < shown; ++i) {
        const SessionRow& row = all[i];
        TodayRow* w;
        if (auto it = byId_.find(row.id); it != byId_.end()) {
            w = it->second;
            byId_.erase(it);
        } else {
            w = new TodayRow(app_.meta(), row.id, this);
        }
        w->setRow(row, header && header->id == row.id, now);
        kept.emplace(row.id, w);
        order.push_back(w);
    }
    // Rows no longer listed go; a name being typed in one of them ends
    // without the focus jumping into a neighbour's field.
    for (auto& [id, w] : byId_) {
        if (QWidget* f = QApplication::focusWidget(); f && w->isAncestorOf(f)) f->clearFocus();
        rowsLayout_->removeWidget(w);
        w->hide();
        w->deleteLater();
    }
    byId_ = std::move(kept);
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
        if (rowsLayout_->indexOf(order[i]) != i) {
            rowsLayout_->removeWidget(order[i]);
            rowsLayout_->insertWidget(i, order[i]);
        }
        if (order[i]->isHidden()) order[i]->show();
    }

    empty_->setVisible(all.empty());
    more_->setVisible(all.size() > kMaxRows);
    if (all.size() > kMaxRows) {
        more_->setText(QStringLiteral("Showing latest %1 of %2.").arg(shown).arg(all.size()));
    }
}

void MenuContent::refreshClock() {
    const TimePoint now = clock().now();
    hero_->refresh(now);
    for (TodayRow* r : rows()) r->updateClock(now);
}

void MenuContent::refreshTopics() {
    for (TodayRow* r : rows()) r->refreshTopic();
}

std::vector<TodayRow*> MenuContent::rows() const {
    std::vector<TodayRow*> out;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        if (auto* r = qobject_cast<TodayRow*>(rowsLayout_->itemAt(i)->widget())) out.push_back(r);
    }
    return out;
}

void MenuContent::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // The date and the ages are worked out whenever the panel shows.
    if (stale_) refresh();
    else refreshClock();
}

void MenuContent::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());
    tint(empty_, BrandColor::textFaint());
    tint(more_, BrandColor::textFaint());
}

// ---------------------------------------------------------------------------

MenuPanel::MenuPanel(AppModel& app, QWidget* parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Vorel"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    v->setSpacing(0);
    // The content scrolls only when it is taller than the screen can hold
    // (ten conversations with long names on a small screen); then the
    // panel keeps to the screen and Open Vorel and Quit stay reachable.
    content_ = new MenuContent(app);
    scroll_ = BrandColor::verticalScrollArea(true);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setWidget(content_);
    // The content's changes of size reach the panel through the viewport.
    scroll_->viewport()->installEventFilter(this);
    v->addWidget(scroll_);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
    fitAndPlace();
}

QPoint MenuPanel::placement(const QSize& size, const QRect& anchor, const QRect& available) {
    constexpr int kGap = kAnchorGap;
    const int w = size.width();
    const int h = size.height();
    const int below = anchor.bottom() + 1 + kGap;
    const int above = anchor.top() - kGap - h;
    const int areaBottom = available.bottom() + 1;
    int y;
    if (below + h <= areaBottom) y = below;
    else if (above >= available.top()) y = above;
    else y = (areaBottom - below >= anchor.top() - available.top()) ? below : above;
    int x = anchor.x() + (anchor.width() - w) / 2;
    // On the screen, the top-left corner first when the panel is larger.
    x = std::max(available.left(), std::min(x, available.right() + 1 - w));
    y = std::max(available.top(), std::min(y, areaBottom - h));
    return {x, y};
}

void MenuPanel::showNear(const QRect& anchorGlobal) {
    anchor_ = anchorGlobal.isValid() ? anchorGlobal : QRect(QCursor::pos(), QSize(1, 1));
    content_->refresh();
    // Size the panel for what it shows before it appears.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    fitAndPlace();
    move(placement(size(), anchor_, availableAround(anchor_)));
    show();
    raise();
    activateWindow();
}

void MenuPanel::toggleNear(const QRect& anchorGlobal) {
    if (isVisible()) {
        close();
        return;
    }
    // The press that closed the panel was the one on the status item.
    if (hiddenAt_.isValid() && hiddenAt_.elapsed() < kReopenGuardMs) {
        hiddenAt_.invalidate();
        return;
    }
    showNear(anchorGlobal);
}

void MenuPanel::fitAndPlace() {
    if (QLayout* l = content_->layout()) l->activate();
    const int contentHeight = content_->hasHeightForWidth() ? content_->heightForWidth(MenuContent::kWidth)
                                                            : content_->sizeHint().height();
    int h = contentHeight + 2 * kBorder;
    int w = MenuContent::kWidth + 2 * kBorder;
    // Never taller than the room beside the status item on its screen (the
    // larger of below and above it; the whole screen when even that is
    // small); the scroll bar then takes room beside the content, not from it.
    const QRect area = availableAround(anchor_.isValid() ? anchor_ : QRect(pos(), QSize(1, 1)));
    int room = area.height();
    if (anchor_.isValid()) {
        const int beside = std::max(area.bottom() - anchor_.bottom() - kAnchorGap,
                                    anchor_.top() - kAnchorGap - area.top());
        if (beside >= kMinScrollingHeight) room = std::min(room, beside);
    }
    if (room > 0 && h > room) {
        h = room;
        w += scroll_->verticalScrollBar()->sizeHint().width();
    }
    if (size() != QSize(w, h)) setFixedSize(w, h);
    if (isVisible() && anchor_.isValid()) move(placement(size(), anchor_, area));
}

bool MenuPanel::isScrolling() const { return scroll_->verticalScrollBar()->maximum() > 0; }

bool MenuPanel::eventFilter(QObject* watched, QEvent* e) {
    if (watched == scroll_->viewport() && e->type() == QEvent::LayoutRequest) fitAndPlace();
    return QWidget::eventFilter(watched, e);
}

bool MenuPanel::isQuitKey(const QKeyEvent* e) const {
    return QKeySequence(e->keyCombination()) == content_->commands()->quitButton()->shortcut();
}

bool MenuPanel::event(QEvent* e) {
    // The panel claims Ctrl+Q before the application's shortcuts are asked:
    // another window's Quit shortcut would otherwise make the key ambiguous
    // and do nothing.
    if (e->type() == QEvent::ShortcutOverride && isQuitKey(static_cast<QKeyEvent*>(e))) {
        e->accept();
        return true;
    }
    bool handled = QWidget::event(e);
    if (e->type() == QEvent::LayoutRequest) fitAndPlace();
    return handled;
}

void MenuPanel::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    hiddenAt_.start();
    content_->hero()->setShowInfo(false);
    // Opened again, the panel starts with no field in edit.
    if (QWidget* f = focusWidget()) f->clearFocus();
}

void MenuPanel::keyPressEvent(QKeyEvent* e) {
    if (isQuitKey(e)) {
        content_->commands()->quitButton()->click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void MenuPanel::mousePressEvent(QMouseEvent* e) {
    // A press on the status item closes the panel; it must not be handed on
    // to the item as well, which would open the panel again.
    swallowPressOnAnchor(this, e, anchor_);
    QWidget::mousePressEvent(e);
}

void MenuPanel::paintEvent(QPaintEvent*) { paintPopupFrame(this, BrandColor::bg()); }

}  // namespace vorel
