// The About page: its blocks and texts as the user reads them, the header
// with and without the logo, wrapping in narrow and wide windows, and its
// colours under each appearance.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <optional>

#include "AboutView.h"
#include "Appearance.h"
#include "TestSupport.h"
#include "Theme.h"

using namespace vorel;
using vorel::platform::Appearance;

namespace {

QList<QLabel*> labels(const QWidget& v, const char* role) {
    QList<QLabel*> out;
    for (QLabel* l : v.findChildren<QLabel*>()) {
        if (l->objectName() == QLatin1String(role)) out.push_back(l);
    }
    return out;
}

// A view in a window of the given size, laid out as on screen.
std::unique_ptr<AboutView> shown(int width, int height, const QString& logo = QStringLiteral("/nonexistent.svg")) {
    auto v = std::make_unique<AboutView>(logo);
    v->resize(width, height);
    v->show();
    QApplication::processEvents();
    return v;
}

QPoint posIn(const QWidget* w, const QWidget* ancestor) { return w->mapTo(ancestor, QPoint(0, 0)); }

const char* kSvg =
    "<svg xmlns='http://www.w3.org/2000/svg' width='80' height='40' viewBox='0 0 80 40'>"
    "<rect width='80' height='40' fill='#B5924C'/></svg>";

}  // namespace

TEST(AboutViewBlocks, TitlesAreUpperCasedInOrder) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    QStringList titles;
    for (QLabel* l : labels(v, "aboutBlockTitle")) titles << l->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("WHY VOREL EXISTS"), QStringLiteral("WHAT VOREL COUNTS TODAY"),
                                   QStringLiteral("NOT COUNTED (YET)"),
                                   QStringLiteral("WHAT THESE NUMBERS ARE \u2014 AND AREN'T"),
                                   QStringLiteral("HOW COSTS ARE CALCULATED"), QStringLiteral("PRIVATE BY DESIGN")}));
    QFont f = labels(v, "aboutBlockTitle").first()->font();
    EXPECT_EQ(f.pixelSize(), 10);
    EXPECT_EQ(f.weight(), QFont::Medium);
    EXPECT_NEAR(f.letterSpacing(), 0.6, 0.01);  // kept in 1/64 pixels
    EXPECT_EQ(f.letterSpacingType(), QFont::AbsoluteSpacing);
}

TEST(AboutViewBlocks, ThreeParagraphsAndTwelveBullets) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    EXPECT_EQ(labels(v, "aboutBody").size(), 15);
    EXPECT_EQ(v.findChildren<QWidget*>(QStringLiteral("aboutBulletMark")).size(), 12);
}

TEST(AboutViewTexts, SayYourComputerNeverMac) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    int computer = 0;
    for (QLabel* l : v.findChildren<QLabel*>()) {
        EXPECT_FALSE(l->text().contains(QStringLiteral("Mac"))) << l->text().toStdString();
        computer += l->text().count(QStringLiteral("your computer"));
    }
    EXPECT_EQ(computer, 2);
}

TEST(AboutViewTexts, TypographyIsKept) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    QString all;
    for (QLabel* l : labels(v, "aboutBody")) all += l->text() + '\n';
    EXPECT_TRUE(all.contains(QStringLiteral("flagged \u201c\u2691 est\u201d.")));
    EXPECT_TRUE(all.contains(QStringLiteral("a subscription \u2014 a flat monthly seat price \u2014 so")));
    EXPECT_TRUE(all.contains(QStringLiteral("it's easy")));
    EXPECT_FALSE(all.contains(QStringLiteral(" - ")));
    EXPECT_FALSE(all.contains(QChar(0x2019)));  // apostrophes stay ASCII
    // The chats that are not counted name the web service.
    EXPECT_TRUE(all.contains(QStringLiteral("claude.ai")));
}

TEST(AboutViewTexts, ShownAsPlainWrappingText) {
    AboutView v(QStringLiteral("/nonexistent.svg"));
    for (QLabel* l : labels(v, "aboutBody")) {
        EXPECT_TRUE(l->wordWrap()) << l->text().toStdString();
        EXPECT_EQ(l->textFormat(), Qt::PlainText);
        EXPECT_EQ(l->font().pixelSize(), 13);
    }
    for (QLabel* l : v.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText);
}

TEST(AboutViewLayout, NarrowWindowWrapsWithoutCuttingText) {
    auto v = shown(560, 420);
    auto* column = v->findChild<QWidget*>(QStringLiteral("aboutColumn"));
    ASSERT_NE(column, nullptr);
    auto* scroll = v->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
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

TEST(AboutViewLayout, ColumnStopsAt640AtTheLeadingEdge) {
    auto v = shown(1200, 700);
    auto* column = v->findChild<QWidget*>(QStringLiteral("aboutColumn"));
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->width(), 640);
    EXPECT_EQ(column->x(), 0);
    QLabel* title = labels(*v, "aboutBlockTitle").first();
    EXPECT_EQ(posIn(title, column), QPoint(20, 20));
}

TEST(AboutViewLayout, BulletMarksShareTheFirstLineOfTheirText) {
    auto v = shown(700, 600);
    const auto marks = v->findChildren<QWidget*>(QStringLiteral("aboutBulletMark"));
    ASSERT_EQ(marks.size(), 12);
    for (QWidget* m : marks) {
        // The text is the label 7 pixels after the mark, on the same row.
        QLabel* text = nullptr;
        for (QLabel* l : labels(*v, "aboutBody")) {
            if (l->parentWidget() == m->parentWidget() && l->y() == m->y()) text = l;
        }
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->x(), m->x() + m->width() + 7);
        // The mark is one text line tall and draws on that line's baseline.
        EXPECT_EQ(m->height(), qCeil(QFontMetricsF(text->font()).height()));
    }
}

TEST(AboutViewHeader, LogoBeforeTheTitlesWhenItExists) {
    test::TempDir dir;
    auto v = shown(800, 600, QString::fromStdString(dir.write("logo.svg", kSvg)));
    auto* logo = v->findChild<QWidget*>(QStringLiteral("aboutLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->size(), QSize(40, 40));
    EXPECT_EQ(logo->x(), 20);
    QLabel* heading = labels(*v, "aboutHeading").value(0);
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "About Vorel");
    EXPECT_EQ(posIn(heading, v.get()).x(), 20 + 40 + 12);

    // The wide logo is scaled to fit the square, centred in it.
    QImage img = logo->grab().toImage();
    const QColor accent(0xB5, 0x92, 0x4C);
    EXPECT_EQ(img.pixelColor(img.width() / 2, img.height() / 2).rgb() & 0xFFFFFF, accent.rgb() & 0xFFFFFF);
    EXPECT_NE(img.pixelColor(img.width() / 2, 2).rgb() & 0xFFFFFF, accent.rgb() & 0xFFFFFF);
}

TEST(AboutViewHeader, TextsStandAloneWithoutTheLogo) {
    test::TempDir dir;
    for (QString path : {QStringLiteral("/nonexistent/logo.svg"),
                         QString::fromStdString(dir.write("broken.svg", "not an image"))}) {
        auto v = shown(800, 600, path);
        EXPECT_EQ(v->findChild<QWidget*>(QStringLiteral("aboutLogo")), nullptr);
        QLabel* heading = labels(*v, "aboutHeading").value(0);
        QLabel* credit = labels(*v, "aboutCredit").value(0);
        ASSERT_TRUE(heading && credit);
        EXPECT_EQ(posIn(heading, v.get()).x(), 20);
        EXPECT_EQ(posIn(credit, v.get()).x(), 20);
        EXPECT_EQ(heading->font().pixelSize(), 19);
        EXPECT_EQ(heading->font().weight(), QFont::DemiBold);
        EXPECT_FALSE(credit->text().trimmed().isEmpty());
    }
}

TEST(AboutViewColors, FollowTheAppearance) {
    Appearance::shared().setOverride(false);
    AboutView v(QStringLiteral("/nonexistent.svg"));
    auto textOf = [&](const char* role) { return labels(v, role).first()->palette().color(QPalette::WindowText); };
    EXPECT_EQ(v.palette().color(QPalette::Window), BrandColor::bg());
    EXPECT_EQ(textOf("aboutHeading"), QColor(0x141413));
    EXPECT_EQ(textOf("aboutBody"), QColor(0x6B6B67));
    EXPECT_EQ(textOf("aboutBlockTitle"), QColor(0x96938C));
    EXPECT_EQ(v.findChild<QWidget*>(QStringLiteral("aboutBulletMark"))->palette().color(QPalette::WindowText),
              QColor(0xB5924C));

    Appearance::shared().setOverride(true);
    EXPECT_EQ(v.palette().color(QPalette::Window), QColor(0x1A1917));
    EXPECT_EQ(textOf("aboutHeading"), QColor(0xF2EFE8));
    EXPECT_EQ(textOf("aboutCredit"), QColor(0xA8A49B));
    EXPECT_EQ(textOf("aboutBlockTitle"), QColor(0x7A766D));
    EXPECT_EQ(v.findChild<QWidget*>(QStringLiteral("aboutBulletMark"))->palette().color(QPalette::WindowText),
              QColor(0xC9A85E));
    Appearance::shared().setOverride(std::nullopt);
}
