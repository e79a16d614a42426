// The kept row widgets of a long list: built once per key, let go when no
// longer listed, without leaving the keyboard focus in a row that goes.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <string>

#include "shell/RowWidgets.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

TEST(RowWidgetsTest, BuildsOncePerKeyAndLetsGoOfRowsNoLongerListedWithoutKeepingTheirFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    RowWidgets<std::string, QLineEdit, int> rows;
    int built = 0;
    auto make = [&] {
        ++built;
        auto* w = new QLineEdit(&window);
        layout->addWidget(w);
        return w;
    };
    for (const char* id : {"a", "b", "c"}) {
        bool made = false;
        rows.obtain(id, make, &made).state = 1;
        EXPECT_TRUE(made) << id;
    }
    // Asked again, a row keeps its widget and what the list noted beside it.
    bool made = true;
    auto& again = rows.obtain("b", make, &made);
    EXPECT_FALSE(made);
    EXPECT_EQ(again.state, 1);
    EXPECT_EQ(built, 3);
    EXPECT_EQ(rows.widget("zz"), nullptr);

    test::showActive(window);
    QPointer<QLineEdit> typing = rows.widget("b");
    QPointer<QLineEdit> far = rows.widget("c");
    typing->setFocus();
    ASSERT_TRUE(typing->hasFocus());

    // "b" is no longer listed: it is hidden, gives up the focus (which
    // must not move on into a neighbour) and is deleted later, as it may be
    // the sender of what caused this.
    auto gone = rows.keepOnly([](const std::string& id) { return id != "b"; });
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0], typing.data());
    EXPECT_TRUE(typing->isHidden());
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.widget("b"), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(typing.isNull());

    // A row dropped "now" is gone at once; dropping an unknown key is a no-op.
    rows.drop("c", true);
    EXPECT_TRUE(far.isNull());
    rows.drop("c", true);
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_NE(rows.widget("a"), nullptr);
}
