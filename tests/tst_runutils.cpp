#include "RunUtils.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestRunUtils : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileExists_data();
    void fileExists();

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

QTEST_GUILESS_MAIN(TestRunUtils)
#include "tst_runutils.moc"
