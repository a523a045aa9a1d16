#pragma once

// Screens of chosen sizes for the tests of window sizes, where the tests
// run on the offscreen platform: it reads them from a file named in its
// platform option, before the application object is made.

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>
#include <QtGlobal>

namespace support {

// Screens in logical pixels, the first the primary one. Elsewhere than
// offscreen the real screens stand.
inline void offscreenScreens(const QList<QRect> &screens)
{
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("screens.json"));
    QByteArray json = "{\"screens\": [";
    for (int i = 0; i < screens.size(); ++i) {
        const QRect &r = screens.at(i);
        json += (i ? ", " : "") + QByteArray("{\"name\": \"screen") + QByteArray::number(i) + "\", \"x\": "
                + QByteArray::number(r.x()) + ", \"y\": " + QByteArray::number(r.y()) + ", \"width\": "
                + QByteArray::number(r.width()) + ", \"height\": " + QByteArray::number(r.height()) + "}";
    }
    json += "]}";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
}

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
