#include "Attention.h"
#include "RunUtils.h"
#include "ScriptedDesktop.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestRunUtils : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileExists_data();
    void fileExists();
    void flashLastsAsLongAsItsSwitches_data();
    void flashLastsAsLongAsItsSwitches();

private:
    QTemporaryDir m_dir;
};

void TestRunUtils::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QDir d(m_dir.path());
    for (const char *name : {"HERO.BMP", "nodot/README", ".hidden.bmp", "onlyhidden/.x.png"}) {
        QDir().mkpath(QFileInfo(d.filePath(QLatin1String(name))).path());
        writeFile(d.filePath(QLatin1String(name)), {});
    }
    QVERIFY(d.mkdir(QStringLiteral("folder.bmp")));
}

void TestRunUtils::fileExists_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    QTest::newRow("plain file") << "HERO.BMP" << true;
    QTest::newRow("plain path is exact about case") << "hero.bmp" << false;
    QTest::newRow("missing") << "villain.bmp" << false;
    QTest::newRow("hidden file") << ".hidden.bmp" << false;
    QTest::newRow("folder") << "folder.bmp" << false;
    QTest::newRow("pattern ignores case") << "*.bmp" << true;
    QTest::newRow("star dot star matches a name without a dot") << "nodot/*.*" << true;
    QTest::newRow("only hidden files") << "onlyhidden/*" << false;
    QTest::newRow("star dot star") << "*.*" << true;
    QTest::newRow("question marks") << "HER?.bm?" << true;
    QTest::newRow("pattern skips hidden files") << "*.png" << false;
    QTest::newRow("pattern in a missing folder") << "nowhere/*.bmp" << false;
    QTest::newRow("empty") << "" << false;
}

void TestRunUtils::fileExists()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    const QString full = path.isEmpty() ? path : m_dir.path() + QLatin1Char('/') + path;
    QCOMPARE(FileExists(full), exists);
}

void TestRunUtils::flashLastsAsLongAsItsSwitches_data()
{
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("alert");
    QTest::newRow("as the run uses it") << 3 << 500 << 3500;
    QTest::newRow("zero times still switches once") << 0 << 500 << 500;
    QTest::newRow("largest counts do not overflow") << 16383 << 32767 << 3600000;
}

void TestRunUtils::flashLastsAsLongAsItsSwitches()
{
    QFETCH(int, times);
    QFETCH(int, ms);
    QFETCH(int, alert);
    ScriptedDesktop desk;
    QWidget w;
    FlashWindowTimes(&w, qint16(times), qint16(ms));
    QCOMPARE(desk.alerts, QList<int>{alert});
}

QTEST_MAIN(TestRunUtils)
#include "tst_runutils.moc"
