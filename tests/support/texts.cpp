#include "support/texts.h"

#include <QByteArrayView>
#include <QLocale>
#include <QRegularExpression>

#include "rules/convert/fault.h"

namespace support {

QString faultOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Fault &fault) {
        return QString::fromLatin1(fault.what());
    }
    return QString();
}

QString shown(const QString &text)
{
    QString expected = text;
    expected.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    return expected;
}

QString shown(const char *text)
{
    return shown(QString::fromLatin1(text));
}

QByteArray appendedSince(const QByteArray &before, const QByteArray &now)
{
    if (now.startsWith(before))
        return now.mid(before.size());
    for (qsizetype overlap = qMin(before.size(), now.size()); overlap > 0; --overlap) {
        if (before.endsWith(QByteArrayView(now.constData(), overlap)))
            return now.mid(overlap);
    }
    return now;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

int dataAgeShown(const QString &statusLine)
{
    static const QRegularExpression age(QStringLiteral(" is connected to server\\.  The data is (\\d+) seconds old$"));
    const QRegularExpressionMatch match = age.match(statusLine);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace support
