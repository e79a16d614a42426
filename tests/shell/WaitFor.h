#pragma once
// Runs the event loop until a condition holds, for tests of work that
// finishes on a later turn of the loop (queued calls, D-Bus, sockets).

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace vorel::test {

inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Lets the event loop run for a while, for checking that nothing happens.
inline void spin(int ms) {
    waitFor([] { return false; }, ms);
}

}  // namespace vorel::test
