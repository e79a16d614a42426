#include "reports/TagEditor.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "engine/MetadataStore.h"
#include "engine/TextRules.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/Formatting.h"
#include "shell/Popup.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr double kChipRadius = 5;

// The store's tag key, composed again: two texts the store takes for the
// same tag have equal keys, and a decomposed accent never matches its bare
// letter inside another word.
QString caselessKey(const QString& s) {
    const std::u16string key = MetadataStore::tagKey(s.toStdString());
    icu::UnicodeString u(key.data(), static_cast<int32_t>(key.size()));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString composed = nfc->normalize(u, status);
        if (U_SUCCESS(status)) u = composed;
    }
    return QString(reinterpret_cast<const QChar*>(u.getBuffer()), u.length());
}

QStringList toList(const std::vector<std::string>& v) {
    QStringList out;
    out.reserve(static_cast<qsizetype>(v.size()));
    for (const std::string& s : v) out << qs(s);
    return out;
}

// The rounded outline of a chip or button, its 1-pixel line inside the
// edge.
QPainterPath chipPath(const QRect& r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), kChipRadius, kChipRadius);
    return path;
}

// The plus button: a plus on a dashed rounded outline.
class TagAddButton : public QAbstractButton {
public:
    explicit TagAddButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::ArrowCursor);
    }
    QSize sizeHint() const override { return {6 + kGlyph + 6, 2 + kGlyph + 2}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPixmap plus = platform::symbolPixmap(QStringLiteral("plus"), BrandColor::textMuted(), kGlyph,
                                              devicePixelRatioF());
        p.drawPixmap(QRect((width() - kGlyph) / 2, (height() - kGlyph) / 2, kGlyph, kGlyph), plus);
        QPen pen(BrandColor::border(), 1);
        pen.setDashPattern({2.0, 2.0});
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(chipPath(rect()));
        if (hasFocus()) {
            p.setPen(QPen(BrandColor::accent(), 1));
            p.drawPath(chipPath(rect()));
        }
    }

private:
    // The symbol at a size-8 font is about 10 pixels tall.
    static constexpr int kGlyph = 10;
};

}  // namespace

// ---------------------------------------------------------------------------

namespace tagtext {

bool sameIgnoringCase(const QString& a, const QString& b) { return caselessKey(a) == caselessKey(b); }

bool containsIgnoringCase(const QString& text, const QString& part) { return caselessKey(text).contains(caselessKey(part)); }

}  // namespace tagtext

TagChoices TagChoices::compute(const QStringList& allTags, const QStringList& ownTags, const QString& query) {
    TagChoices c;
    QStringList ownKeys;
    for (const QString& t : ownTags) ownKeys << caselessKey(t);
    const QString queryKey = caselessKey(query);
    bool exactExists = false;
    for (const QString& t : allTags) {
        const QString key = caselessKey(t);
        if (!query.isEmpty() && key == queryKey) exactExists = true;
        if (ownKeys.contains(key)) continue;  // this conversation has it already
        if (query.isEmpty() || key.contains(queryKey)) c.tags << t;
    }
    c.showCreate = !query.isEmpty() && !exactExists;
    if (c.tags.isEmpty()) {
        if (query.isEmpty()) c.message = QStringLiteral("No other tags yet \u2014 type to create one.");
        else if (exactExists) c.message = QStringLiteral("Already added.");
    }
    return c;
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kChipPadX = 7;
constexpr int kChipPadY = 2;
// The cross and the space before it.
constexpr int kCross = 8;
constexpr int kCrossGap = 3;

// The first user-perceived character of `s`.
QString firstCharacter(const QString& s) {
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, s);
    const qsizetype end = graphemes.toNextBoundary();
    return end > 0 ? s.left(end) : s;
}

}  // namespace

TagChip::TagChip(QWidget* parent) : QWidget(parent) {
    setFont(chipFont());

    remove_ = new QToolButton(this);
    remove_->setAutoRaise(true);
    remove_->setFocusPolicy(Qt::NoFocus);
    remove_->setCursor(Qt::ArrowCursor);
    remove_->setIconSize(QSize(kCross, kCross));
    remove_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    remove_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));
    remove_->setFixedSize(kCross, kCross);
    remove_->setVisible(false);
    connect(remove_, &QToolButton::clicked, this, [this] { emit removeClicked(tag_); });

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    applyColors();
}

void TagChip::setTag(const QString& tag) {
    if (tag == tag_) return;
    tag_ = tag;
    text_ = tag.toUpper();
    setAccessibleName(tag);
    updateGeometry();
    update();
}

QFont TagChip::chipFont() {
    QFont f = BrandFont::sans(10, QFont::Medium);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    return f;
}

int TagChip::chipHeight() { return kChipPadY + QFontMetrics(chipFont()).height() + kChipPadY; }

QSize TagChip::sizeFor(int textWidth) const { return {kChipPadX + textWidth + kChipPadX, chipHeight()}; }

int TagChip::leastTextWidth() const {
    // The cross shows over the end of the text, so that hovering never
    // changes the chip's size; the first letter and "…" stay beside it.
    return fontMetrics().horizontalAdvance(firstCharacter(text_) + QStringLiteral("\u2026")) + kCrossGap + kCross;
}

QSize TagChip::sizeHint() const {
    return sizeFor(std::max(fontMetrics().horizontalAdvance(text_), leastTextWidth()));
}

QSize TagChip::minimumSizeHint() const { return sizeFor(leastTextWidth()); }

int TagChip::widthIn(int width) const {
    const QFontMetrics fm = fontMetrics();
    const int room = width - sizeFor(0).width();
    if (sizeHint().width() <= width) return sizeHint().width();
    const int cut = sizeFor(fm.horizontalAdvance(fm.elidedText(text_, Qt::ElideRight, room))).width();
    return std::max(minimumSizeHint().width(), std::min(width, cut));
}

QRect TagChip::textRect() const {
    const int cross = hover_ ? kCrossGap + kCross : 0;
    const QRect r(kChipPadX, 0, std::max(0, width() - 2 * kChipPadX - cross), height());
    return QStyle::visualRect(layoutDirection(), rect(), r);
}

QString TagChip::shownText() const {
    const QFontMetrics fm = fontMetrics();
    const int room = textRect().width();
    // Cut only when it does not fit: eliding at exactly its own width may
    // still shorten a text.
    if (fm.horizontalAdvance(text_) <= room) return text_;
    const QString cut = fm.elidedText(text_, Qt::ElideRight, room);
    // A chip never says only "…": its first letter stays.
    const QString least = firstCharacter(text_) + QStringLiteral("\u2026");
    return cut.size() < least.size() ? least : cut;
}

void TagChip::applyColors() {
    remove_->setIcon(platform::symbolIcon(QStringLiteral("xmark"), BrandColor::textFaint(), kCross));
    update();
}

void TagChip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(BrandColor::border(), 1));
    p.setBrush(BrandColor::bgSubtle());
    p.drawPath(chipPath(rect()));
    p.setPen(BrandColor::textMuted());
    p.drawText(textRect(), QStyle::visualAlignment(layoutDirection(), Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
               shownText());
}

void TagChip::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const QRect cross(width() - kChipPadX - kCross, (height() - kCross) / 2, kCross, kCross);
    remove_->setGeometry(QStyle::visualRect(layoutDirection(), rect(), cross));
}

void TagChip::enterEvent(QEnterEvent* e) {
    QWidget::enterEvent(e);
    setHover(true);
}

void TagChip::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    setHover(false);
}

void TagChip::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    // No leave event comes while hidden.
    setHover(false);
}

void TagChip::setHover(bool hover) {
    if (hover == hover_) return;
    hover_ = hover;
    remove_->setVisible(hover);
    // The cross takes the end of the text's room; the chip keeps its size.
    update();
}

// ---------------------------------------------------------------------------

TagOptionRow::TagOptionRow(bool accent, QWidget* parent) : QAbstractButton(parent), accent_(accent) {
    // Clicking a line leaves the focus in the popover's field.
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TagOptionRow::setLabel(const QString& text) {
    if (text == label_) return;
    label_ = text;
    update();
}

QFont TagOptionRow::labelFont() const { return BrandFont::sans(12, accent_ ? QFont::Medium : QFont::Normal); }

QSize TagOptionRow::sizeHint() const {
    QFontMetrics fm(labelFont());
    return {9 + fm.horizontalAdvance(label_) + 9, 6 + fm.height() + 6};
}

void TagOptionRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFont f = labelFont();
    QFontMetrics fm(f);
    p.setFont(f);
    p.setPen(accent_ ? BrandColor::accent() : BrandColor::text());
    QRect r = rect().adjusted(9, 6, -9, -6);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, fm.elidedText(label_, Qt::ElideRight, r.width()));
}

// ---------------------------------------------------------------------------

TagPopover::TagPopover(QWidget* anchor)
    : QWidget(anchor, Qt::Popup | Qt::FramelessWindowHint), anchor_(anchor) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(1, 1, 1, 1);  // the border
    v->setSpacing(0);
    v->setSizeConstraint(QLayout::SetFixedSize);

    auto* fieldBox = new QHBoxLayout;
    fieldBox->setContentsMargins(9, 9, 9, 9);
    field_ = new QLineEdit;
    field_->setFrame(false);
    field_->setFont(BrandFont::sans(12));
    field_->setTextMargins(-2, 0, -2, 0);
    field_->setPlaceholderText(QStringLiteral("Type to create or filter\u2026"));
    field_->setAttribute(Qt::WA_MacShowFocusRect, false);
    fieldBox->addWidget(field_);
    v->addLayout(fieldBox);
    v->addWidget(new Hairline);

    scroll_ = BrandColor::verticalScrollArea(true);
    // Nothing in the list takes the focus from the field, so typing goes on
    // after a pick or a create; a click on a row would otherwise hand the
    // focus up to the scroll area.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    scroll_->setFixedWidth(kWidth);
    scroll_->viewport()->setAutoFillBackground(false);
    listBody_ = new QWidget;
    listBody_->setAutoFillBackground(false);
    listLayout_ = new QVBoxLayout(listBody_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(0);
    create_ = new TagOptionRow(true);
    listLayout_->addWidget(create_);
    message_ = new QLabel;
    message_->setTextFormat(Qt::PlainText);
    message_->setFont(BrandFont::sans(11));
    message_->setWordWrap(true);
    message_->setContentsMargins(9, 9, 9, 9);
    listLayout_->addWidget(message_);
    listLayout_->addStretch(1);
    scroll_->setWidget(listBody_);
    v->addWidget(scroll_);

    setFixedWidth(kWidth + 2);
    connect(field_, &QLineEdit::returnPressed, this, &TagPopover::commitRequested);
    connect(create_, &QAbstractButton::clicked, this, &TagPopover::commitRequested);
    applyColors();
}

std::vector<TagOptionRow*> TagPopover::optionRows() const {
    std::vector<TagOptionRow*> out;
    for (TagOptionRow* r : options_)
        if (!r->isHidden()) out.push_back(r);
    return out;
}

QString TagPopover::message() const { return message_->isHidden() ? QString() : message_->text(); }

void TagPopover::setChoices(const TagChoices& choices, const QString& query) {
    create_->setVisible(choices.showCreate);
    if (choices.showCreate) create_->setLabel(QStringLiteral("\u23CE  Create \u201C") + isolated(query) + QStringLiteral("\u201D"));
    const size_t n = static_cast<size_t>(choices.tags.size());
    while (options_.size() < n) {
        auto* row = new TagOptionRow(false);
        // After the create row and the rows before it.
        listLayout_->insertWidget(static_cast<int>(options_.size()) + 1, row);
        connect(row, &QAbstractButton::clicked, this, [this, row] { emit picked(row->label()); });
        options_.push_back(row);
    }
    for (size_t i = 0; i < options_.size(); ++i) {
        if (i < n) options_[i]->setLabel(choices.tags[static_cast<qsizetype>(i)]);
        options_[i]->setVisible(i < n);
    }
    message_->setVisible(!choices.message.isEmpty());
    if (message_->text() != choices.message) message_->setText(choices.message);

    // As tall as the list, up to the limit; then it scrolls.
    listLayout_->invalidate();
    const int content = listLayout_->totalHeightForWidth(kWidth);
    const int wanted = std::min(content > 0 ? content : listBody_->sizeHint().height(), kMaxListHeight);
    scroll_->setFixedHeight(std::max(0, wanted));
    if (isVisible()) place();
}

void TagPopover::showAtAnchor() {
    // Placed afresh, then kept where it opened.
    openedAbove_.reset();
    place();
    const int anchorTop = anchor_->mapToGlobal(QPoint(0, 0)).y();
    if (y() + height() <= anchorTop) openedAbove_ = anchorTop - y();
    show();
    raise();
    activateWindow();
    field_->setFocus(Qt::PopupFocusReason);
}

void TagPopover::place() {
    if (layout()) layout()->activate();
    adjustSize();
    const QRect anchor(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = anchor_->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(anchor.topLeft(), size());
    // Above its button, pointing down at it; below only when there is no
    // room above. Kept on the screen either way.
    QPoint at = placeAtAnchor(size(), anchor, area);
    const int above = anchor.top() - kPopupGap - height();
    if (openedAbove_) {
        // Open above its button: the list grows and shrinks as the user
        // types, and the field at the top stays where it opened. A list
        // grown past its first height (the create row comes) reaches over
        // the button, and moves up only at the screen's bottom edge.
        at.setY(std::min(anchor.top() - *openedAbove_, area.bottom() + 1 - height()));
    } else if (above >= area.top()) {
        at.setY(above);
    }
    move(at);
}

void TagPopover::applyColors() {
    BrandColor::styleTextField(field_, BrandColor::text());
    QPalette listPal = scroll_->palette();
    listPal.setColor(QPalette::Window, BrandColor::bgElevated());
    listPal.setColor(QPalette::Base, BrandColor::bgElevated());
    scroll_->setPalette(listPal);
    scroll_->viewport()->setPalette(listPal);
    BrandColor::setTextColor(message_, BrandColor::textFaint());
    update();
}

void TagPopover::paintEvent(QPaintEvent*) { paintPopupFrame(this, BrandColor::bgElevated()); }

void TagPopover::mousePressEvent(QMouseEvent* e) {
    // A press on the add button closes the popover and must not reach the
    // button, which would open it again.
    swallowPressOnAnchor(this, e, QRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size()));
    QWidget::mousePressEvent(e);
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kRowSpacing = 5;

}  // namespace

TagEditor::TagEditor(MetadataStore& meta, QString rowId, QWidget* parent)
    : QWidget(parent), meta_(meta), id_(std::move(rowId)) {
    // No layout: the chips share the editor's width (placeChips), so many
    // tags never widen what holds the editor.
    add_ = new TagAddButton(this);
    add_->installEventFilter(this);
    // How many chips are left out for want of room.
    more_ = new QLabel(this);
    more_->setTextFormat(Qt::PlainText);
    more_->setFont(TagChip::chipFont());
    more_->hide();
    connect(add_, &QAbstractButton::clicked, this, &TagEditor::openPopover);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &TagEditor::applyColors);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    BrandColor::setTextColor(more_, BrandColor::textMuted());
    refresh();
}

void TagEditor::setRowId(const QString& rowId) {
    if (rowId == id_) return;
    id_ = rowId;
    refresh();
}

void TagEditor::refresh() {
    // A tag stored twice (a hand-edited file) is one chip; its cross
    // removes every copy, as the store does.
    QStringList shown;
    for (const std::string& t : meta_.tags(id_.toStdString())) {
        QString tag = qs(t);
        if (!shown.contains(tag)) shown << tag;
    }
    used_ = static_cast<size_t>(shown.size());
    while (chips_.size() < used_) {
        auto* chip = new TagChip(this);
        chip->hide();
        connect(chip, &TagChip::removeClicked, this, &TagEditor::remove);
        chips_.push_back(chip);
    }
    for (size_t i = 0; i < used_; ++i) chips_[i]->setTag(shown[static_cast<qsizetype>(i)]);
    updateGeometry();
    placeChips();
    if (isPopoverOpen()) refreshChoices();
}

std::vector<int> TagEditor::fitChipWidths(const std::vector<int>& natural, const std::vector<int>& minimum, int room,
                                          int spacing) {
    std::vector<int> widths(natural.size(), 0);
    for (size_t n = natural.size(); n > 0; --n) {
        std::vector<size_t> order(n);
        for (size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return natural[a] < natural[b]; });
        int left = room - static_cast<int>(n) * spacing;
        bool fits = left >= 0;
        for (size_t k = 0; k < n && fits; ++k) {
            const size_t i = order[k];
            widths[i] = std::min(natural[i], left / static_cast<int>(n - k));
            left -= widths[i];
            fits = widths[i] >= minimum[i];
        }
        if (fits) return widths;
        std::fill(widths.begin(), widths.end(), 0);
    }
    return widths;
}

QSize TagEditor::sizeHint() const {
    const QSize add = add_->sizeHint();
    int w = add.width();
    for (size_t i = 0; i < used_; ++i) w += chips_[i]->sizeHint().width() + kRowSpacing;
    // As tall with tags as without, so a first tag moves nothing below.
    return {w, std::max(add.height(), TagChip::chipHeight())};
}

QString TagEditor::hiddenCountText(size_t hidden) { return QStringLiteral("+") + QString::number(hidden); }



QSize TagEditor::minimumSizeHint() const { return {add_->sizeHint().width(), sizeHint().height()}; }

void TagEditor::placeChips() {
    std::vector<int> natural, minimum;
    for (size_t i = 0; i < used_; ++i) {
        natural.push_back(chips_[i]->sizeHint().width());
        minimum.push_back(chips_[i]->minimumSizeHint().width());
    }
    const QSize add = add_->sizeHint();
    const int room = width() - add.width();
    std::vector<int> widths = fitChipWidths(natural, minimum, room, kRowSpacing);
    auto shownCount = [&widths] {
        return static_cast<size_t>(std::count_if(widths.begin(), widths.end(), [](int w) { return w > 0; }));
    };
    // Chips left out are counted after the others ("+3"); the count takes
    // room of its own, which may leave out more.
    size_t shownChips = shownCount();
    int countWidth = 0;
    while (shownChips < used_) {
        countWidth = more_->fontMetrics().horizontalAdvance(hiddenCountText(used_ - shownChips)) + kRowSpacing;
        widths = fitChipWidths(natural, minimum, room - countWidth, kRowSpacing);
        const size_t fewer = shownCount();
        if (fewer == shownChips) break;
        shownChips = fewer;
    }
    auto place = [this](QWidget* w, const QRect& r) {
        const QRect at = QStyle::visualRect(layoutDirection(), rect(), r);
        if (w->geometry() != at) w->setGeometry(at);
    };
    int x = 0;
    for (size_t i = 0; i < chips_.size(); ++i) {
        TagChip* chip = chips_[i];
        const bool shown = i < used_ && widths[i] > 0;
        if (shown) {
            const int w = chip->widthIn(widths[i]);
            const int h = chip->sizeHint().height();
            place(chip, QRect(x, (height() - h) / 2, w, h));
            x += w + kRowSpacing;
        }
        if (chip->isHidden() == shown) chip->setVisible(shown);
    }
    const size_t hidden = used_ - shownChips;
    if (hidden > 0) {
        more_->setText(hiddenCountText(hidden));
        more_->setAccessibleName(QString::number(hidden) + (hidden == 1 ? QStringLiteral(" more tag")
                                                                        : QStringLiteral(" more tags")));
        const int h = more_->fontMetrics().height();
        place(more_, QRect(x, (height() - h) / 2, countWidth - kRowSpacing, h));
        x += countWidth;
    }
    hidden_ = static_cast<int>(hidden);
    if (more_->isHidden() == (hidden > 0)) more_->setVisible(hidden > 0);
    place(add_, QRect(x, (height() - add.height()) / 2, add.width(), add.height()));
}

bool TagEditor::event(QEvent* e) {
    // A chip asks for another width (it shows another tag): the row is
    // shared out again, and whatever holds the editor hears of it.
    if (e->type() == QEvent::LayoutRequest) {
        updateGeometry();
        placeChips();
        return true;
    }
    return QWidget::event(e);
}

void TagEditor::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    placeChips();
}

std::vector<TagChip*> TagEditor::chips() const { return {chips_.begin(), chips_.begin() + static_cast<ptrdiff_t>(used_)}; }

bool TagEditor::isPopoverOpen() const { return popover_ && popover_->isVisible(); }

QString TagEditor::query() const { return popover_ ? popover_->field()->text() : QString(); }

void TagEditor::openPopover() {
    if (!popover_) {
        popover_ = new TagPopover(add_);
        connect(popover_, &TagPopover::commitRequested, this, &TagEditor::commit);
        connect(popover_->field(), &QLineEdit::textChanged, this, &TagEditor::refreshChoices);
        connect(popover_, &TagPopover::picked, this, &TagEditor::pick);
    }
    refreshChoices();
    popover_->showAtAnchor();
}

void TagEditor::refreshChoices() {
    if (!popover_) return;
    const QString q = query();
    popover_->setChoices(TagChoices::compute(toList(meta_.allTags()), toList(meta_.tags(id_.toStdString())), q), q);
}

void TagEditor::commit() {
    const QString t = trimSpacesAndTabs(query());
    // Nothing to add: what was typed stays, to be corrected.
    if (t.isEmpty() || text::isBlank(t.toStdString())) return;
    meta_.addTag(id_.toStdString(), t.toStdString());
    popover_->field()->clear();
    refresh();
}

void TagEditor::pick(const QString& tag) {
    meta_.addTag(id_.toStdString(), tag.toStdString());
    if (popover_) popover_->field()->clear();
    refresh();
}

void TagEditor::remove(const QString& tag) {
    meta_.removeTag(id_.toStdString(), tag.toStdString());
    refresh();
}

bool TagEditor::eventFilter(QObject* watched, QEvent* event) {
    // New chips push the add button along: the open popover follows it.
    if (watched == add_ && event->type() == QEvent::Move && isPopoverOpen()) popover_->place();
    return QWidget::eventFilter(watched, event);
}

void TagEditor::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (isPopoverOpen()) popover_->hide();
}

void TagEditor::applyColors() {
    for (TagChip* c : chips_) c->applyColors();
    BrandColor::setTextColor(more_, BrandColor::textMuted());
    add_->update();
    if (popover_) popover_->applyColors();
}

}  // namespace vorel
