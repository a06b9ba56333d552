#include "LinkLabel.h"
#include "TestSupport.h"
#include "frmAbout.h"

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void linksReachTheDesktopWhole_data();
    void linksReachTheDesktopWhole();
    void systemInformation_data();
    void systemInformation();
};

void TestAbout::linksReachTheDesktopWhole_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("canOpen");
    QTest::newRow("blanks, quotes, semicolon") << "my sprites; rm -rf 'x' \"y\"" << true;
    QTest::newRow("nothing can open it") << "plain" << false;
}

void TestAbout::linksReachTheDesktopWhole()
{
    QFETCH(QString, folder);
    QFETCH(bool, canOpen);
    QTemporaryDir dir;
    AppPath = dir.path() + '/' + folder + '/';
    ScriptedDesktop desk;
    desk.canStart = canOpen;
    frmMain w;
    control<QAction>(w, "mnuMainHelp")->trigger();
    QCOMPARE(desk.opened.size(), 1);
    QCOMPARE(desk.opened[0].toLocalFile(), AppPath + "readme.txt");
    QVERIFY(desk.started.isEmpty());
    QCOMPARE(desk.messages.size(), canOpen ? 0 : 1);
    QTest::mouseClick(control<LinkLabel>(w, "lblWebsite"), Qt::LeftButton);
    QCOMPARE(desk.opened.value(1), QUrl(QStringLiteral("http://www.pelloran.example/")));
    // The mail link keeps the blank before its subject.
    frmAbout about;
    QTest::mouseClick(about.lblEmail, Qt::LeftButton);
    QCOMPARE(desk.opened.value(2),
             QUrl(QStringLiteral("mailto:hello@pelloran.example ?subject=Pelloran Version: 1.21"),
                  QUrl::TolerantMode));
}

void TestAbout::systemInformation_data()
{
    QTest::addColumn<bool>("installed");
    QTest::newRow("none on PATH") << false;
    QTest::newRow("one on PATH") << true;
}

void TestAbout::systemInformation()
{
    QFETCH(bool, installed);
    QTemporaryDir bin;
    const QString program = bin.filePath(QStringLiteral("kinfocenter"));
    if (installed) {
        writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    ScriptedDesktop desk;
    frmAbout about;
    about.cmdSysInfo->click();
    qputenv("PATH", oldPath);
    QCOMPARE(desk.started, installed ? QList<QStringList>{{program}} : QList<QStringList>{});
    QCOMPARE(desk.messages.size(), installed ? 0 : 1);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
