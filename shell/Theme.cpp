#include "shell/Theme.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>
#include <QVariantAnimation>
#include <QVBoxLayout>
#include <cmath>

#include "platform/Appearance.h"
#include "shell/PlainLabel.h"

namespace vorel {

namespace BrandFont {

void registerBundledFonts() {
    QDir fonts(QStringLiteral(":/fonts"));
    const QStringList files = fonts.entryList({QStringLiteral("*.ttf")}, QDir::Files, QDir::Name);
    for (const QString& f : files) QFontDatabase::addApplicationFont(fonts.filePath(f));
}

namespace {

bool hasDMSans() {
    static const bool has = QFontDatabase::families().contains(QStringLiteral("DM Sans"));
    return has;
}

}  // namespace

QFont sans(double size, QFont::Weight weight) {
    QFont f = hasDMSans() ? QFont(QStringLiteral("DM Sans")) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    f.setWeight(weight);
    return f;
}

QFont sansMonospacedDigits(double size, QFont::Weight weight) {
    // Qt 6.4 cannot switch OpenType features on; DM Sans draws its digits
    // at one width already, so the plain face serves.
    return sans(size, weight);
}

QFont caption() {
    QFont f = sans(10, QFont::Medium);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return f;
}

}  // namespace BrandFont

namespace BrandColor {

namespace {

QColor pick(QRgb dark, QRgb light, double darkAlpha = 1.0, double lightAlpha = 1.0) {
    bool isDark = platform::Appearance::shared().isDark();
    QColor c(isDark ? dark : light);
    c.setAlphaF(static_cast<float>(isDark ? darkAlpha : lightAlpha));
    return c;
}

}  // namespace

QColor bg() { return pick(0x1A1917, 0xFAFAF8); }
QColor bgSubtle() { return pick(0x232220, 0xF2EFE8); }
QColor bgElevated() { return pick(0x2A2825, 0xFFFFFF); }
QColor text() { return pick(0xF2EFE8, 0x141413); }
QColor textMuted() { return pick(0xA8A49B, 0x6B6B67); }
QColor textFaint() { return pick(0x7A766D, 0x96938C); }
QColor accent() { return pick(0xC9A85E, 0xB5924C); }
QColor accentFaint() { return pick(0xC9A85E, 0xB5924C, 0.16, 0.10); }
QColor border() { return pick(0x38352F, 0xE5E1D8); }
QColor warn() { return pick(0xC9A85E, 0x8A6D3B); }
QColor chartCached() { return pick(0x7E856F, 0x7E856F); }
QColor chartOutput() { return pick(0xB4AFA4, 0x4A4740); }
QColor windowBG() { return pick(0x1A1917, 0xFAFAF8); }

QString css(const QColor& c) {
    if (c.alpha() == 255) return c.name(QColor::HexRgb);
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF(), 0, 'f', 3);
}

double luminance(const QColor& c) {
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

void setTextColor(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    pal.setColor(QPalette::Text, c);
    w->setPalette(pal);
}

void setBackground(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, c);
    w->setPalette(pal);
}

void styleTextField(QWidget* field, const QColor& text) {
    QPalette pal = field->palette();
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::PlaceholderText, textFaint());
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Window, Qt::transparent);
    QColor selection = accent();
    selection.setAlphaF(0.35f);
    pal.setColor(QPalette::Highlight, selection);
    pal.setColor(QPalette::HighlightedText, text);
    field->setPalette(pal);
}

QScrollArea* verticalScrollArea(bool widgetResizable) {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(widgetResizable);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QScrollBar* bar = scroll->verticalScrollBar();
    styleScrollBar(bar);
    QObject::connect(&platform::Appearance::shared(), &platform::Appearance::changed, bar,
                     [bar] { styleScrollBar(bar); });
    return scroll;
}

void styleScrollBar(QScrollBar* bar) {
    bar->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: %1; min-height: 24px; border-radius: 3px;"
                       " margin: 2px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(css(border())));
}

namespace {

void setPalette() {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, bg());
        p.setColor(group, QPalette::WindowText, text());
        p.setColor(group, QPalette::Base, bgElevated());
        p.setColor(group, QPalette::AlternateBase, bgSubtle());
        p.setColor(group, QPalette::Text, text());
        p.setColor(group, QPalette::PlaceholderText, textFaint());
        p.setColor(group, QPalette::Button, bgSubtle());
        p.setColor(group, QPalette::ButtonText, text());
        p.setColor(group, QPalette::ToolTipBase, bgElevated());
        p.setColor(group, QPalette::ToolTipText, text());
        p.setColor(group, QPalette::Highlight, accent());
        p.setColor(group, QPalette::HighlightedText, bg());
        p.setColor(group, QPalette::Link, accent());
        p.setColor(group, QPalette::Mid, border());
        p.setColor(group, QPalette::Dark, border());
        p.setColor(group, QPalette::Light, bgElevated());
        p.setColor(group, QPalette::Midlight, bgSubtle());
    }
    p.setColor(QPalette::Disabled, QPalette::Text, textFaint());
    p.setColor(QPalette::Disabled, QPalette::WindowText, textFaint());
    p.setColor(QPalette::Disabled, QPalette::ButtonText, textFaint());
    platform::Appearance::shared().setApplicationPalette(p);
}

}  // namespace

void applyToApplication() {
    static bool connected = false;
    setPalette();
    if (!connected) {
        connected = true;
        QObject::connect(&platform::Appearance::shared(), &platform::Appearance::changed, qApp, [] { setPalette(); });
    }
}

}  // namespace BrandColor

QLabel* microLabel(const QString& text, QWidget* parent) {
    QLabel* l = plainLabel(text.toUpper(), BrandFont::caption(), parent);
    BrandColor::setTextColor(l, BrandColor::textMuted());
    QObject::connect(&platform::Appearance::shared(), &platform::Appearance::changed, l,
                     [l] { BrandColor::setTextColor(l, BrandColor::textMuted()); });
    return l;
}

Hairline::Hairline(int inset, QWidget* parent) : QWidget(parent), inset_(inset) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

void Hairline::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    if (layoutDirection() == Qt::LeftToRight) r.setLeft(inset_);
    else r.setRight(r.right() - inset_);
    p.fillRect(r, BrandColor::border());
}

namespace {

// One fade down and back up, each half eased in and out on its own, so the
// dot settles at both ends of its swing.
qreal easeEachWay(qreal t) {
    static const QEasingCurve half(QEasingCurve::InOutSine);
    return t < 0.5 ? half.valueForProgress(2 * t) / 2 : 0.5 + half.valueForProgress(2 * t - 1) / 2;
}

}  // namespace

LiveDot::LiveDot(QWidget* parent) : QWidget(parent), pulse_(new QVariantAnimation(this)) {
    setFixedSize(8, 8);
    pulse_->setStartValue(1.0);
    pulse_->setKeyValueAt(0.5, 0.55);
    pulse_->setEndValue(1.0);
    pulse_->setDuration(3200);  // 1.6 s each way
    QEasingCurve eachWay;
    eachWay.setCustomType(&easeEachWay);
    pulse_->setEasingCurve(eachWay);
    pulse_->setLoopCount(-1);
    connect(pulse_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        opacity_ = v.toDouble();
        update();
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

void LiveDot::setState(bool live, std::optional<QColor> idleFill) {
    bool wasLive = live_;
    live_ = live;
    idleFill_ = idleFill;
    if (live && !wasLive) {
        pulse_->start();
    } else if (!live && wasLive) {
        pulse_->stop();
        opacity_ = 1.0;
    }
    update();
}

void LiveDot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (live_) {
        p.setOpacity(opacity_);
        p.setPen(Qt::NoPen);
        p.setBrush(BrandColor::accent());
    } else if (idleFill_) {
        p.setPen(Qt::NoPen);
        p.setBrush(*idleFill_);
    } else {
        // Not the rule colour: a 1-pixel ring that small in it all but
        // vanishes from the page, most of all on the dark one.
        p.setPen(QPen(BrandColor::textFaint(), 1));
        p.setBrush(Qt::NoBrush);
    }
    p.drawEllipse(r);
}

QVBoxLayout* dotColumn(LiveDot* dot, int top) {
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, top, 0, 0);
    column->addWidget(dot);
    column->addStretch(1);
    return column;
}

}  // namespace vorel
