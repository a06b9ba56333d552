#include "FileJob.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestFiles.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

// Pictures as the encoders Debian ships write them, made at test time by
// encoder_pictures.py, up to 4096 x 4096: every one is read as Pillow (or libjpeg's djpeg)
// decodes it, and masked into the mask of those pixels.
class TestEncoders : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void masked_data();
    void masked();

private:
    QTemporaryDir m_dir;
};

void TestEncoders::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    maker.start(QStringLiteral("/usr/bin/python3"),
                {QFINDTESTDATA("encoder_pictures.py"), m_dir.path()});
    QVERIFY(maker.waitForFinished(-1));
    QVERIFY2(maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0,
             "encoder_pictures.py failed (see above)");
}

void TestEncoders::masked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    const QByteArray list = readFile(m_dir.filePath(QStringLiteral("pictures.txt")));
    for (const QByteArray &line : list.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 3)
            QTest::newRow(f[0].constData())
                << QString::fromLatin1(f[0]) << f[1].toInt() << f[2].toInt();
    }
}

void TestEncoders::masked()
{
    QFETCH(QString, name);
    QFETCH(int, width);
    QFETCH(int, height);
    const QString path = m_dir.filePath(name), mask = path + QStringLiteral(".mask.bmp"),
                  expectedMask = path + QStringLiteral(".expected.bmp");
    const auto cleanUp = qScopeGuard([&] {
        for (const QString &p : {path, path + QStringLiteral(".rgb"), mask, expectedMask})
            QFile::remove(p);
    });
    const QByteArray raw = readFile(path + QStringLiteral(".rgb"));
    QCOMPARE(raw.size(), qsizetype(width) * height * 3);
    const QImage expected = QImage(reinterpret_cast<const uchar *>(raw.constData()), width, height,
                                   qsizetype(width) * 3, QImage::Format_RGB888)
                                .convertToFormat(QImage::Format_RGB32);
    QImage got;
    try {
        got = readPicture(path);
    } catch (const RunError &e) {
        QFAIL(qPrintable(e.description()));
    }
    QCOMPARE(got.size(), expected.size());
    qint64 differ = 0;
    QPoint first;
    for (int y = 0; y < height; ++y) {
        const QRgb *a = reinterpret_cast<const QRgb *>(got.constScanLine(y)),
                   *b = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (a[x] != b[x] && differ++ == 0)
                first = {x, y};
    }
    QVERIFY2(differ == 0, qPrintable(QStringLiteral("%1 pixels differ, the first at %2, %3")
                                         .arg(differ)
                                         .arg(first.x())
                                         .arg(first.y())));

    // The file job streams the file through the same reader into a mask; the key is the
    // first pixel's colour, so two-colour pictures mask half their pixels.
    const Colour key = fromQRgb(expected.pixel(0, 0));
    FileJob job({{{key}, 0, -1, 0x00FF00}, {}});
    if (job.run(path, mask, Existing::Replace) != FileJob::Outcome::Masked)
        QFAIL(qPrintable(job.error() ? job.error()->description() : QStringLiteral("not masked")));
    writeBmp(referenceMask(expected, expected.size(), key, 0x00FF00), expectedMask);
    QVERIFY(readFile(mask) == readFile(expectedMask));
}

QTEST_GUILESS_MAIN(TestEncoders)
#include "tst_encoders.moc"
