#include <QDir>
#include <QLabel>
#include <QStandardPaths>
#include <QtTest>

#include "app/aboutbox.h"
#include "app/aboutinfo.h"
#include "app/version.h"

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void linesNameBuildQtAndFiles()
    {
        const QString dir = QStringLiteral("/opt/rtviewer/bin");
        const QString text = aboutLines(dir).join(QLatin1Char('\n'));
        QVERIFY(text.contains(QStringLiteral(RTVIEWER_VERSION)));
        QVERIFY(!QStringLiteral(RTVIEWER_COMMIT).isEmpty());
        QVERIFY(text.contains(QStringLiteral(RTVIEWER_COMMIT)));
        QVERIFY(text.contains(QString::fromLatin1(qVersion())));
        QVERIFY(text.contains(QDir::toNativeSeparators(dir)));
        const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QCOMPARE(historyDatabasePath(), dataDir + QStringLiteral("/history.sqlite3"));
        QVERIFY(text.contains(QDir::toNativeSeparators(historyDatabasePath())));
    }

    void boxShowsPathsAsPlainTextWithoutBlocking()
    {
        AboutBox box(QStringLiteral("/tmp/<b>x</b>"));
        box.present();
        QCOMPARE(box.objectName(), QStringLiteral("fm_about"));
        QVERIFY(!box.isModal());
        auto *details = box.findChild<QLabel *>(QStringLiteral("lbl_about"));
        QVERIFY(details);
        QCOMPARE(details->textFormat(), Qt::PlainText);
        QVERIFY(details->text().contains(QStringLiteral("/tmp/<b>x</b>")));
    }
};

QTEST_MAIN(tst_About)
#include "tst_about.moc"
