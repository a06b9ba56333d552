#include <QTest>

// Placeholder until these tests of the command line land.
class TestCli_outputs : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestCli_outputs)
#include "tst_cli_outputs.moc"
