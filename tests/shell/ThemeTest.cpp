// The theme's colours under each appearance, and the font's pixel size.

#include <gtest/gtest.h>

#include <QImage>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Appearance.h"
#include "shell/Theme.h"

using namespace vorel;
using vorel::platform::Appearance;

namespace {

// Hands the forced appearance back after each test.
struct ThemeTest : ::testing::Test {
    void TearDown() override { Appearance::shared().setOverride(std::nullopt); }
};

}  // namespace

TEST_F(ThemeTest, EverySurfaceSwitchesWithTheAppearanceButTheCachedShare) {
    using Colour = QColor (*)();
    const Colour switching[] = {BrandColor::bg,     BrandColor::bgSubtle, BrandColor::bgElevated,
                                BrandColor::text,   BrandColor::textMuted, BrandColor::textFaint,
                                BrandColor::accent, BrandColor::accentFaint, BrandColor::border,
                                BrandColor::warn,   BrandColor::chartOutput, BrandColor::windowBG};
    std::vector<QColor> light;
    Appearance::shared().setOverride(false);
    for (Colour c : switching) light.push_back(c());
    const QColor cached = BrandColor::chartCached();
    Appearance::shared().setOverride(true);
    for (size_t i = 0; i < std::size(switching); ++i) EXPECT_NE(switching[i](), light[i]) << i;
    EXPECT_EQ(BrandColor::chartCached(), cached);
}

TEST_F(ThemeTest, ScrollAreasKeepTheirBarInTheCurrentAppearance) {
    Appearance::shared().setOverride(false);
    std::unique_ptr<QScrollArea> scroll(BrandColor::verticalScrollArea(true));
    QScrollBar* bar = scroll->verticalScrollBar();
    EXPECT_TRUE(bar->styleSheet().contains(BrandColor::css(BrandColor::border())));
    Appearance::shared().setOverride(true);
    EXPECT_TRUE(bar->styleSheet().contains(BrandColor::css(BrandColor::border())));
}

TEST_F(ThemeTest, AnIdleDotsRingStandsOutFromEveryPageItSitsOn) {
    auto contrast = [](const QColor& a, const QColor& b) {
        const double la = BrandColor::luminance(a), lb = BrandColor::luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    };
    using Colour = QColor (*)();
    for (bool dark : {false, true}) {
        Appearance::shared().setOverride(dark);
        // The list's page, a panel row's and the popovers'.
        for (Colour page : {BrandColor::bg, BrandColor::bgSubtle, BrandColor::bgElevated}) {
            QWidget host;
            host.setFixedSize(12, 12);
            host.setAutoFillBackground(true);
            BrandColor::setBackground(&host, page());
            auto* dot = new LiveDot(&host);
            dot->move(2, 2);
            dot->setState(false);
            const QImage shot = host.grab().toImage();
            double strongest = 1;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x) strongest = std::max(strongest, contrast(shot.pixelColor(x, y), page()));
            // The rule colour gave 1.1 to 1.4, which reads as nearly
            // nothing; the faint text colour gives about 2.4 to 3.9.
            EXPECT_GE(strongest, 2.2) << (dark ? "dark " : "light ") << page().name().toStdString();
        }
    }
}

TEST(ThemeCss, StyleSheetTextKeepsTheAlpha) {
    EXPECT_EQ(BrandColor::css(QColor(0xFA, 0xFA, 0xF8)), "#fafaf8");
    EXPECT_EQ(BrandColor::css(QColor(181, 146, 76, 26)), "rgba(181, 146, 76, 0.102)");
}

TEST_F(ThemeTest, OverrideAnnouncesOnlyRealChanges) {
    Appearance::shared().setOverride(false);
    QSignalSpy spy(&Appearance::shared(), &Appearance::changed);
    Appearance::shared().setOverride(false);
    EXPECT_EQ(spy.count(), 0);
    Appearance::shared().setOverride(true);
    EXPECT_EQ(spy.count(), 1);
}

TEST(BrandFontTest, RoundsThePixelSizeToAtLeastOne) {
    EXPECT_EQ(BrandFont::sans(10.6).pixelSize(), 11);
    EXPECT_EQ(BrandFont::sans(10.4).pixelSize(), 10);
    EXPECT_EQ(BrandFont::sans(0.2).pixelSize(), 1);  // too small to draw, still usable
}
