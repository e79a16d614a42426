#pragma once
// Qt's warnings as test failures. Qt reports a misused widget, layout,
// signal or model (and QAbstractItemModelTester a broken model) only as a
// warning, and a test would pass over it; the widget tests' main installs
// failOnQtWarnings so a warning fails the test that caused it. A test that
// provokes one on purpose says so with an ExpectedQtWarning.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace vorel::test {

// Messages that say nothing about our code: what the offscreen platform
// answers to window-manager requests it has no window manager for (the
// widgets asked correctly); Qt's note that a session without a runtime
// folder (root in CI) gets one under /tmp; and the tray icon's connection to
// an X11-only signal of the platform, made by Qt itself on every platform.
inline bool isPlatformNoise(const QString& message) {
    static const QStringList noise = {
        QStringLiteral("This plugin does not support propagateSizeHints()"),
        QStringLiteral("This plugin does not support raise()"),
        QStringLiteral("This plugin does not support setting window masks"),
        QStringLiteral("This plugin does not support grabbing the keyboard"),
        QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"),
        QStringLiteral("QObject::connect: No such signal QPlatformNativeInterface::systemTrayWindowChanged"),
    };
    for (const QString& n : noise)
        if (message.startsWith(n)) return true;
    return false;
}

// Warnings a test provokes on purpose, by their beginnings; each must come
// at least once while it is in scope.
class ExpectedQtWarning {
public:
    explicit ExpectedQtWarning(QString start) : start_(std::move(start)) { active().push_back(this); }
    ~ExpectedQtWarning() {
        std::erase(active(), this);
        EXPECT_TRUE(seen_) << "Qt did not warn: " << start_.toStdString();
    }
    ExpectedQtWarning(const ExpectedQtWarning&) = delete;
    ExpectedQtWarning& operator=(const ExpectedQtWarning&) = delete;

    // Whether `message` was expected (and is now seen).
    static bool consume(const QString& message) {
        for (ExpectedQtWarning* e : active())
            if (message.startsWith(e->start_)) return e->seen_ = true;
        return false;
    }

private:
    static std::vector<ExpectedQtWarning*>& active() {
        static std::vector<ExpectedQtWarning*> list;
        return list;
    }
    QString start_;
    bool seen_ = false;
};

// How many warnings came outside any test (while the application started
// or ended): they fail the run.
inline int& strayQtWarnings() {
    static int count = 0;
    return count;
}

inline void failOnQtWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool warning = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
    if (warning && !isPlatformNoise(message) && !ExpectedQtWarning::consume(message)) {
        const std::string text = message.toStdString();
        if (::testing::UnitTest::GetInstance()->current_test_info()) {
            ADD_FAILURE_AT(context.file ? context.file : "Qt", context.line) << "Qt warned: " << text;
        } else {
            ++strayQtWarnings();
            std::fprintf(stderr, "Qt warned outside a test: %s\n", text.c_str());
        }
        if (type != QtFatalMsg) return;
    }
    // Everything else is printed as Qt prints it (Qt aborts after a fatal one).
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace vorel::test
