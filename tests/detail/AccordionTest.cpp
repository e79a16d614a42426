// A section's title line and body box: toggles that slide and turn, and a
// body that is cut, never squeezed, while it slides.

#include "detail/Accordion.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "tests/GuiTestSupport.h"

namespace vorel {
namespace {

TEST(AccordionTest, HeaderReportsTheWantedStateAndTurnsItsChevron) {
    AccordionHeader header(QStringLiteral("Cost plot"));
    QSignalSpy toggled(&header, &AccordionHeader::toggled);
    header.click();
    // The click asks; the owner decides and sets the state.
    EXPECT_EQ(QList<QVariantList>(toggled), QList<QVariantList>({{false}}));
    EXPECT_TRUE(header.isExpanded());

    header.setExpanded(false, 200);
    EXPECT_FALSE(header.isExpanded());
    EXPECT_TRUE(test::waitFor([&] { return header.chevronAngle() > 0 && header.chevronAngle() < 90; }, 1000));
    EXPECT_TRUE(test::waitFor([&] { return header.chevronAngle() == 0; }, 1000));
    header.setExpanded(true);
    EXPECT_EQ(header.chevronAngle(), 90);
}

TEST(AccordionTest, BoxSlidesItsBodyAndHidesWhenClosed) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* body = new QLabel(QStringLiteral("line\nline\nline\nline"));
    auto* box = new CollapsibleBox(body);
    layout->addWidget(box);
    layout->addStretch(1);
    window.resize(300, 400);
    window.show();
    test::settle();
    const int full = box->height();
    ASSERT_GT(full, 40);
    EXPECT_EQ(body->height(), full);

    box->setOpen(false, 200);
    // Part way, the body keeps its height and the box cuts it.
    ASSERT_TRUE(test::waitFor([&] { return box->height() > 0 && box->height() < full - 5; }, 1000));
    EXPECT_EQ(body->height(), full);
    EXPECT_TRUE(test::waitFor([&] { return box->isHidden(); }, 1000));

    // Reopening half way through a close turns back from where it is.
    box->setOpen(true, 200);
    EXPECT_TRUE(box->isVisible());
    box->setOpen(false, 200);
    box->setOpen(true, 200);
    EXPECT_TRUE(test::waitFor([&] { return box->height() == full; }, 1000));

    // A body that grows makes the box grow.
    body->setText(QStringLiteral("line\nline\nline\nline\nline\nline"));
    EXPECT_TRUE(test::waitFor([&] { return box->height() > full; }, 1000));
    EXPECT_EQ(body->height(), box->height());
}

}  // namespace
}  // namespace vorel
