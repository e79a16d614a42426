// The theme's colours under each appearance, and the font fallback.

#include <gtest/gtest.h>

#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <memory>
#include <optional>

#include "Appearance.h"
#include "Theme.h"

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
    EXPECT_EQ(BrandFont::sans(0.2).pixelSize(), 1);  // too small to draw, still usable
}
