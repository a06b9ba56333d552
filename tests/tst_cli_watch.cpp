#include <QTest>

// Placeholder until these tests of the command line land.
class TestCli_watch : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestCli_watch)
#include "tst_cli_watch.moc"
