#include <QTest>

// Placeholder until these tests of the command line land.
class TestCli_interrupt : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestCli_interrupt)
#include "tst_cli_interrupt.moc"
