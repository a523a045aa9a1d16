#include "support/screens.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace support {

void offscreenScreens(const QList<QRect> &screens)
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
