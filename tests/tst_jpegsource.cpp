#include <QTest>

// Placeholder until the jpeg source's tests land.
class Testjpeg : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Testjpeg)
#include "tst_jpegsource.moc"
