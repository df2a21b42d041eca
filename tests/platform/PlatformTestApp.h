#pragma once
// The one QCoreApplication of the platform test binary, made on first use.
// Inline, so every test file gets the same one: Qt allows one per process.
#include <QCoreApplication>

namespace platformtest {

inline QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "platform_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

}  // namespace platformtest
