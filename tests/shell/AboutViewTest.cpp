// The About page: plain texts that wrap without being cut in a narrow
// window, the column and bullets in a wide one, and the header with and
// without the logo.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollArea>

#include "shell/AboutView.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

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

int xIn(const QWidget* w, const QWidget* ancestor) { return w->mapTo(ancestor, QPoint(0, 0)).x(); }

}  // namespace

TEST(AboutViewLayout, NarrowWindowWrapsPlainTextWithoutCuttingItAndAWideOneStopsTheColumnAt640) {
    auto v = shown(560, 420);
    auto* column = v->findChild<QWidget*>(QStringLiteral("aboutColumn"));
    auto* scroll = v->findChild<QScrollArea*>();
    ASSERT_TRUE(column && scroll);
    EXPECT_LE(column->width(), scroll->viewport()->width());
    for (QLabel* l : v->findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
    for (QLabel* l : labels(*v, "aboutBody")) {
        EXPECT_TRUE(l->wordWrap());
        EXPECT_LE(xIn(l, column) + l->width(), column->width()) << l->text().toStdString();
        EXPECT_GE(l->height(), l->heightForWidth(l->width())) << l->text().toStdString();
    }
    // The page is taller than the window, so it scrolls.
    EXPECT_GT(scroll->widget()->height(), scroll->viewport()->height());
    v->resize(1200, 700);
    QApplication::processEvents();
    EXPECT_EQ(column->width(), 640);
}

TEST(AboutViewLayout, BulletMarksShareTheirTextsFirstLine) {
    auto v = shown(1200, 700);
    const auto marks = v->findChildren<QWidget*>(QStringLiteral("aboutBulletMark"));
    EXPECT_FALSE(marks.isEmpty());
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
    EXPECT_EQ(xIn(labels(*v, "aboutHeading").value(0), v.get()), 20 + 40 + 12);
    // The wide logo is scaled to fit the square, centred in it.
    QImage img = logo->grab().toImage();
    EXPECT_EQ(img.pixelColor(img.width() / 2, img.height() / 2).rgb() & 0xFFFFFF, 0xB5924Cu);
    EXPECT_NE(img.pixelColor(img.width() / 2, 2).rgb() & 0xFFFFFF, 0xB5924Cu);
    // Missing or broken: the texts stand alone at the leading edge.
    for (QString path : {QStringLiteral("/nonexistent/logo.svg"),
                         QString::fromStdString(dir.write("broken.svg", "not an image"))}) {
        std::optional<test::ExpectedQtWarning> unreadable;  // Qt's SVG reader reports the broken file
        if (path.endsWith(QStringLiteral("broken.svg"))) unreadable.emplace(QStringLiteral("Cannot read file"));
        auto plain = shown(800, 600, path);
        EXPECT_EQ(plain->findChild<QWidget*>(QStringLiteral("aboutLogo")), nullptr);
        EXPECT_EQ(xIn(labels(*plain, "aboutHeading").value(0), plain.get()), 20);
    }
}
