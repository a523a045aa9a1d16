#pragma once

// Screens of chosen sizes for the tests of window sizes, where the tests
// run on the offscreen platform: it reads them from a file named in its
// platform option, before the application object is made.

#include <QApplication>
#include <QList>
#include <QRect>
#include <QTest>

namespace support {

// Screens in logical pixels, the first the primary one. Elsewhere than
// offscreen the real screens stand.
void offscreenScreens(const QList<QRect> &screens);

} // namespace support

// QTEST_MAIN on these screens.
#define SUPPORT_MAIN_ON_SCREENS(TestObject, ...)                                                                      \
    int main(int argc, char *argv[])                                                                                  \
    {                                                                                                                 \
        support::offscreenScreens({__VA_ARGS__});                                                                     \
        QApplication app(argc, argv);                                                                                 \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                      \
        TestObject tc;                                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                    \
        return QTest::qExec(&tc, argc, argv);                                                                         \
    }
