// main() for test programs. The _NET variants skip themselves outside a private network namespace.
#pragma once

#include "netns.h"

#include <QCoreApplication>
#include <QTest>

#define TARVIK_TEST_MAIN_IMPL(TestObject, AppType, guard)                                                              \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        if (guard)                                                                                                     \
            tarvik::test::requirePrivateNetworkNamespace(argv[0]);                                                     \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        AppType app(argc, argv);                                                                                       \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return tarvik::test::testStatus(QTest::qExec(&test, argc, argv));                                              \
    }

// Pure tests: no sockets.
#define TARVIK_TEST_MAIN(TestObject) TARVIK_TEST_MAIN_IMPL(TestObject, QCoreApplication, false)
// Tests with real sockets, without widgets.
#define TARVIK_TEST_MAIN_NET(TestObject) TARVIK_TEST_MAIN_IMPL(TestObject, QCoreApplication, true)
#if __has_include(<QApplication>)
#include <QApplication>
// Tests of the window (which opens the real endpoint).
#define TARVIK_TEST_MAIN_GUI_NET(TestObject) TARVIK_TEST_MAIN_IMPL(TestObject, QApplication, true)
#endif
