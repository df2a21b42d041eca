#pragma once
// Bounded waiting on the UI thread: its events are processed while the test
// waits for a condition, so that reports queued to it arrive.
#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace testsupport {

// Processes UI events until `done` or `limitMs` passes; returns `done()`.
// The default bound only tells a hang from none: a sanitizer build on a
// busy machine may take many times the usual time.
template <typename Pred>
bool pumpUntil(Pred done, int limitMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

}  // namespace testsupport
