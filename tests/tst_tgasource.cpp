#include <QTest>

// Placeholder until the tga source's tests land.
class Testtga : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Testtga)
#include "tst_tgasource.moc"
