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
        const QString text = aboutLines(QStringLiteral("/opt/rtviewer/bin")).join(QLatin1Char('\n'));
        for (const char *part : {RTVIEWER_VERSION, RTVIEWER_COMMIT, qVersion(), "/opt/rtviewer/bin"})
            QVERIFY2(text.contains(QLatin1String(part)), part);
        QCOMPARE(historyDatabasePath(), QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                           + QStringLiteral("/rtviewer/history.sqlite3"));
        QVERIFY(text.contains(historyDatabasePath()));
    }

    void boxShowsPathsAsPlainTextWithoutBlocking()
    {
        AboutBox box(QStringLiteral("/tmp/<b>x</b>"));
        box.present();
        QVERIFY(box.objectName() == QStringLiteral("fm_about") && !box.isModal());
        auto *details = box.findChild<QLabel *>(QStringLiteral("lbl_about"));
        QVERIFY(details && details->textFormat() == Qt::PlainText);
        QVERIFY(details->text().contains(QStringLiteral("/tmp/<b>x</b>")));
    }
};

QTEST_MAIN(tst_About)
#include "tst_about.moc"
