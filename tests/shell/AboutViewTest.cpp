// The About page: its texts as the user reads them, the header with and
// without the logo, wrapping in narrow and wide windows, and its colours
// under each appearance.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollArea>

#include "AboutView.h"
#include "GuiTestSupport.h"
#include "Theme.h"

using namespace vorel;
using vorel::platform::Appearance;

namespace {

QList<QLabel*> labels(const QWidget& v, const char* role) { return v.findChildren<QLabel*>(QLatin1String(role)); }

// A view in a window of the given size, laid out as on screen.
std::unique_ptr<AboutView> shown(int width, int height, const QString& logo = QStringLiteral("/nonexistent.svg")) {
    auto v = std::make_unique<AboutView>(logo);
    v->resize(width, height);
    v->show();
    QApplication::processEvents();
    return v;
}

QPoint posIn(const QWidget* w, const QWidget* ancestor) { return w->mapTo(ancestor, QPoint(0, 0)); }

}  // namespace

TEST(AboutViewTexts, PlainWrappingTextThatSaysYourComputerAndKeepsItsTypography) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    const QList<QLabel*> titles = labels(v, "aboutBlockTitle");
    EXPECT_EQ(titles.size(), 6);
    for (QLabel* l : titles) EXPECT_EQ(l->text(), l->text().toUpper());
    QString all;
    for (QLabel* l : labels(v, "aboutBody")) {
        EXPECT_TRUE(l->wordWrap()) << l->text().toStdString();
        all += l->text() + '\n';
    }
    int computer = 0;
    for (QLabel* l : v.findChildren<QLabel*>()) {
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
        EXPECT_FALSE(l->text().contains(QStringLiteral("Mac"))) << l->text().toStdString();
        computer += l->text().count(QStringLiteral("your computer"));
    }
    EXPECT_EQ(computer, 2);
    EXPECT_TRUE(all.contains(QStringLiteral("flagged \u201c\u2691 est\u201d.")));
    EXPECT_TRUE(all.contains(QStringLiteral("a subscription \u2014 a flat monthly seat price \u2014 so")));
    EXPECT_TRUE(all.contains(QStringLiteral("it's easy")));
    EXPECT_FALSE(all.contains(QStringLiteral(" - ")));
    EXPECT_FALSE(all.contains(QChar(0x2019)));  // apostrophes stay ASCII
}

TEST(AboutViewLayout, NarrowWindowWrapsWithoutCuttingText) {
    auto v = shown(560, 420);
    auto* column = v->findChild<QWidget*>(QStringLiteral("aboutColumn"));
    auto* scroll = v->findChild<QScrollArea*>();
    ASSERT_TRUE(column && scroll);
    EXPECT_LE(column->width(), scroll->viewport()->width());
    for (QLabel* l : labels(*v, "aboutBody")) {
        EXPECT_LE(posIn(l, column).x() + l->width(), column->width()) << l->text().toStdString();
        EXPECT_GE(l->height(), l->heightForWidth(l->width())) << l->text().toStdString();
    }
    // The longest paragraph needs several lines at this width.
    QLabel* first = labels(*v, "aboutBody").first();
    EXPECT_GT(first->height(), 3 * QFontMetrics(first->font()).lineSpacing());
    // The page is taller than the window, so it scrolls.
    EXPECT_GT(scroll->widget()->height(), scroll->viewport()->height());
}

TEST(AboutViewLayout, WideWindowStopsTheColumnAt640AndBulletMarksShareTheirTextsFirstLine) {
    auto v = shown(1200, 700);
    auto* column = v->findChild<QWidget*>(QStringLiteral("aboutColumn"));
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->width(), 640);
    EXPECT_EQ(column->x(), 0);
    EXPECT_EQ(posIn(labels(*v, "aboutBlockTitle").first(), column), QPoint(20, 20));

    const auto marks = v->findChildren<QWidget*>(QStringLiteral("aboutBulletMark"));
    ASSERT_FALSE(marks.isEmpty());
    for (QWidget* m : marks) {
        // The text is the label 7 pixels after the mark, on the same row.
        QLabel* text = nullptr;
        for (QLabel* l : labels(*v, "aboutBody"))
            if (l->parentWidget() == m->parentWidget() && l->y() == m->y()) text = l;
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->x(), m->x() + m->width() + 7);
        // The mark is one text line tall and draws on that line's baseline.
        EXPECT_EQ(m->height(), qCeil(QFontMetricsF(text->font()).height()));
    }
}

TEST(AboutViewHeader, LogoBeforeTheTitlesWhenItCanBeDrawn) {
    test::TempDir dir;
    const std::string svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='80' height='40' viewBox='0 0 80 40'>"
        "<rect width='80' height='40' fill='#B5924C'/></svg>";
    auto v = shown(800, 600, QString::fromStdString(dir.write("logo.svg", svg)));
    auto* logo = v->findChild<QWidget*>(QStringLiteral("aboutLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->size(), QSize(40, 40));
    EXPECT_EQ(logo->x(), 20);
    EXPECT_EQ(posIn(labels(*v, "aboutHeading").value(0), v.get()).x(), 20 + 40 + 12);
    // The wide logo is scaled to fit the square, centred in it.
    QImage img = logo->grab().toImage();
    const QRgb accent = 0xB5924C;
    EXPECT_EQ(img.pixelColor(img.width() / 2, img.height() / 2).rgb() & 0xFFFFFF, accent);
    EXPECT_NE(img.pixelColor(img.width() / 2, 2).rgb() & 0xFFFFFF, accent);

    // Missing or broken: the texts stand alone at the leading edge.
    for (QString path : {QStringLiteral("/nonexistent/logo.svg"),
                         QString::fromStdString(dir.write("broken.svg", "not an image"))}) {
        auto plain = shown(800, 600, path);
        EXPECT_EQ(plain->findChild<QWidget*>(QStringLiteral("aboutLogo")), nullptr);
        QLabel* heading = labels(*plain, "aboutHeading").value(0);
        QLabel* credit = labels(*plain, "aboutCredit").value(0);
        ASSERT_TRUE(heading && credit);
        EXPECT_EQ(posIn(heading, plain.get()).x(), 20);
        EXPECT_EQ(posIn(credit, plain.get()).x(), 20);
        EXPECT_FALSE(credit->text().trimmed().isEmpty());
    }
}

TEST(AboutViewColors, FollowTheAppearance) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    auto colour = [&](const char* role) {
        return v.findChild<QWidget*>(QLatin1String(role))->palette().color(QPalette::WindowText);
    };
    for (bool dark : {true, false}) {
        Appearance::shared().setOverride(dark);
        EXPECT_EQ(v.palette().color(QPalette::Window), BrandColor::bg());
        EXPECT_EQ(colour("aboutHeading"), BrandColor::text());
        EXPECT_EQ(colour("aboutCredit"), BrandColor::textMuted());
        EXPECT_EQ(colour("aboutBody"), BrandColor::textMuted());
        EXPECT_EQ(colour("aboutBlockTitle"), BrandColor::textFaint());
        EXPECT_EQ(colour("aboutBulletMark"), BrandColor::accent());
    }
    Appearance::shared().setOverride(std::nullopt);
}
