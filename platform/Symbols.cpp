#include "platform/Symbols.h"

#include "platform/Appearance.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>

namespace vorel::platform {

namespace {

constexpr const char* kIconFontFile = "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";

// Symbol names the screens use, and the icon font's code point for each.
const QHash<QString, char16_t>& glyphs() {
    static const QHash<QString, char16_t> table{
        {QStringLiteral("info.circle"), 0xe88f},        // info_outline
        {QStringLiteral("list.bullet.rectangle"), 0xe8ef},  // view_list
        {QStringLiteral("chart.bar"), 0xe26b},          // bar_chart
        {QStringLiteral("list.clipboard"), 0xe85d},     // assignment
        {QStringLiteral("square.and.arrow.up"), 0xe6b8},  // ios_share
        {QStringLiteral("dollarsign.circle"), 0xe263},  // monetization_on
        {QStringLiteral("magnifyingglass"), 0xe8b6},    // search
        {QStringLiteral("xmark"), 0xe5cd},              // close
        {QStringLiteral("plus"), 0xe145},               // add
        {QStringLiteral("xmark.circle.fill"), 0xe5c9},  // cancel
        {QStringLiteral("flag"), 0xe153},               // flag
        {QStringLiteral("tag"), 0xe892},                // label
        {QStringLiteral("person"), 0xe7fd},             // person
        {QStringLiteral("gearshape.2"), 0xe8b9},        // settings_applications
        {QStringLiteral("gearshape"), 0xe8b8},          // settings
        {QStringLiteral("text.bubble"), 0xe0cb},        // chat_bubble_outline
        {QStringLiteral("brain"), 0xea4a},              // psychology
        {QStringLiteral("hammer"), 0xe869},             // build
        {QStringLiteral("terminal"), 0xeb8e},           // terminal
        {QStringLiteral("doc.badge.gearshape"), 0xe873},  // description
        {QStringLiteral("number"), 0xe9ef},             // tag
        {QStringLiteral("clock"), 0xe8b5},              // schedule
        {QStringLiteral("arrow.turn.down.right"), 0xe5da},  // subdirectory_arrow_right
    };
    return table;
}

// The icon font's family, registered once; empty when it is not installed.
QString iconFamily() {
    static const QString family = [] {
        if (!QFile::exists(QString::fromLatin1(kIconFontFile))) return QString();
        int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kIconFontFile));
        QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        return families.isEmpty() ? QString() : families.first();
    }();
    return family;
}

}  // namespace

QChar symbolGlyph(const QString& name) {
    auto it = glyphs().find(name);
    return it == glyphs().end() ? QChar() : QChar(*it);
}

QPixmap symbolPixmap(const QString& name, const QColor& color, int pixelSize, qreal dpr) {
    QChar glyph = symbolGlyph(name);
    QString family = iconFamily();
    if (glyph.isNull() || family.isEmpty() || pixelSize <= 0) return {};
    QPixmap pm(QSize(pixelSize, pixelSize) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f(family);
    f.setPixelSize(pixelSize);
    p.setFont(f);
    p.setPen(color);
    p.drawText(QRect(0, 0, pixelSize, pixelSize), Qt::AlignCenter, QString(glyph));
    return pm;
}

SymbolView::SymbolView(const QString& name, std::function<QColor()> color, int pixelSize, QWidget* parent)
    : QWidget(parent), name_(name), color_(std::move(color)), size_(pixelSize) {
    setFixedSize(pixelSize, pixelSize);
    setAttribute(Qt::WA_TranslucentBackground);
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, symbolPixmap(name_, color_ ? color_() : palette().windowText().color(), size_,
                                    devicePixelRatioF()));
}

QIcon symbolIcon(const QString& name, const QColor& color, int pixelSize) {
    qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm = symbolPixmap(name, color, pixelSize, dpr);
    return pm.isNull() ? QIcon() : QIcon(pm);
}

}  // namespace vorel::platform
