#include <QTest>

// Placeholder until the gif source's tests land.
class Testgif : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Testgif)
#include "tst_gifsource.moc"
