#include <QTest>

// Placeholder until the png source's tests land.
class Testpng : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Testpng)
#include "tst_pngsource.moc"
