#include "FileLists.h"
#include "PictureIO.h"
#include "Settings.h"
#include "TestSupport.h"
#include "frmBrowse.h"
#include "frmSave.h"

#include <QDir>

namespace
{

QImage flat(int w, int h, QRgb c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

// The entries of the main window's list or of a dialog's file list, in order.
QStringList entries(const QAbstractItemModel *m)
{
    QStringList l;
    for (int i = 0; i < m->rowCount(); ++i)
        l.append(m->index(i, 0).data().toString());
    return l;
}

} // namespace

class TestFileDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void saveNameRules_data();
    void saveNameRules();
    void browse_data();
    void browse();
    void patternFiltersAsTyped();
    void clearList_data();
    void clearList();
    void pickingAnEntryLoadsIt();
    void saveAsAsksAndReports_data();
    void saveAsAsksAndReports();

private:
    std::unique_ptr<Sandbox> m_box;
    QString file(const QString &name) const { return m_box->file(name); }
};

void TestFileDialogs::init()
{
    m_box = std::make_unique<Sandbox>();
    SetPaths();
    writeBmp(flat(10, 10, 0xFFFF0000), file("a.bmp"));
    writeBmp(flat(20, 5, 0xFF00FF00), file("b.BMP"));
    writeBmp(flat(7, 7, 0xFF0000FF), file("c.bmp"));
    QImage(3, 3, QImage::Format_RGB32).save(file("d.gif"), "PNG"); // a picture, named .gif
    writeFile(file("notes.txt"), {});
}

void TestFileDialogs::saveNameRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("result");
    const auto row = [](const char *tag, const QString &name, const QString &ext,
                        const QString &result) { QTest::newRow(tag) << name << ext << result; };
    row("added", "sprite", ".gif", "sprite.gif");
    row("NONE typed with spaces", "sprite", "  (NONE) ", "sprite");
    row("contains, not ends with", "Unnamed.bmp", ".jpg", "Unnamed.bmp.jpg");
    row("case-sensitive", "PIC.BMP", ".bmp", "PIC.BMP.bmp");
    row("anywhere in the name", "a.bmp.old", ".bmp", "a.bmp.old");
    row("quotes are dropped", "spr\"ite\"", ".gif", "sprite");
    row("empty name", "", ".bmp", ".bmp");
    row("empty extension", "x", "", "x");
    row("name kept as typed", " a b ", ".bmp", " a b .bmp");
}

void TestFileDialogs::saveNameRules()
{
    QFETCH(QString, name);
    QFETCH(QString, ext);
    QFETCH(QString, result);
    QCOMPARE(frmSave::completeName(name, ext), result);
    QCOMPARE(frmSave::joinPath(QStringLiteral("/work"), result), "/work/" + result);
    QCOMPARE(frmSave::joinPath(QStringLiteral("/"), result), "/" + result);
}

void TestFileDialogs::browse_data()
{
    QTest::addColumn<int>("mode"); // 0: the dialog is cancelled
    QTest::addColumn<bool>("lastPathExists");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("shown"); // the entry loaded afterwards
    QTest::newRow("replace") << 1 << true << QStringList{"/old/x.bmp"}
                             << QStringList{"b.BMP", "c.bmp"} << "b.BMP";
    QTest::newRow("append keeps the oldest first")
        << 2 << true << QStringList{"a.bmp", "c.bmp"}
        << QStringList{"a.bmp", "c.bmp", "b.BMP", "c.bmp"} << "a.bmp";
    QTest::newRow("cancel changes nothing") << 0 << true << QStringList{} << QStringList{} << "";
    QTest::newRow("last path gone: the program folder")
        << 0 << false << QStringList{} << QStringList{} << "";
}

void TestFileDialogs::browse()
{
    QFETCH(int, mode);
    QFETCH(bool, lastPathExists);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, shown);
    const QString folder = QDir(m_box->files.path()).canonicalPath();
    const auto full = [&](QStringList l) {
        for (QString &s : l)
            if (!s.startsWith('/'))
                s = folder + '/' + s;
        return l;
    };
    const QString lastPath = lastPathExists ? m_box->files.path() : file("gone/away");
    SaveSetting("sys", "lastpath", lastPath);
    ScriptedDesktop desk;
    frmMain w;
    w.addFiles(full(before), true);
    QString title, pattern, opened;
    desk.onDialog = [&](QDialog &d) {
        auto &b = static_cast<frmBrowse &>(d);
        title = b.windowTitle();
        pattern = b.cmbFileTypes->currentText();
        opened = b.Dir1->path();
        for (int i = 0; i < b.File1->count(); ++i) // b.BMP and c.bmp
            b.File1->item(i)->setSelected(i > 0);
        if (mode) // Okay stores the folder it shows, whatever is stored meanwhile
            return SaveSetting("sys", "lastpath", QDir::rootPath()), b.cmdOkay->click(), 1;
        b.Dir1->setPath(QDir::rootPath());
        return b.cmdCancel->click(), 0;
    };
    w.Browse(qint16(mode ? mode : 1));
    QCOMPARE(title, QStringLiteral("Pelloran - Browse"));
    QCOMPARE(pattern, QStringLiteral("*.bmp"));
    QCOMPARE(opened, lastPathExists ? folder : QDir::home().canonicalPath());
    QCOMPARE(entries(control<QComboBox>(w, "lstFiles")->model()), full(after));
    QCOMPARE(control<QPushButton>(w, "cmdAppendFiles")->isEnabled() &&
                 control<QPushButton>(w, "cmdClearList")->isEnabled(),
             mode != 0);
    if (!mode) {
        QCOMPARE(GetSetting("sys", "lastpath", ""), lastPath);
        return;
    }
    QCOMPARE(w.currentFile(), full({shown}).first());
    QVERIFY(control<QAction>(w, "mnuSaveSprite")->isEnabled());
    QCOMPARE(QDir(GetSetting("sys", "lastpath", "")).canonicalPath(), folder);
}

// What the lists show as the user types a pattern and opens a folder: hidden files never,
// names in the order of their letters whatever their case.
void TestFileDialogs::patternFiltersAsTyped()
{
    writeBmp(flat(2, 2, 0xFF000000), file(".hidden.bmp"));
    QVERIFY(QDir(m_box->files.path()).mkdir(QStringLiteral("sub")));
    writeBmp(flat(2, 2, 0xFF000000), file("sub/B2.bmp"));
    writeBmp(flat(2, 2, 0xFF000000), file("sub/a.bmp"));
    SaveSetting("sys", "lastpath", m_box->files.path());
    frmMain w;
    frmBrowse b(w);
    QCOMPARE(entries(b.File1->model()), (QStringList{"a.bmp", "b.BMP", "c.bmp"}));
    const QString shown = b.Dir1->path();
    const auto subfolder = b.Dir1->findItems(QStringLiteral("sub"), Qt::MatchEndsWith);
    QCOMPARE(subfolder.size(), 1);
    b.Dir1->itemActivated(subfolder.first());
    QCOMPARE(b.Dir1->path(), shown + QStringLiteral("/sub"));
    QCOMPARE(entries(b.File1->model()), (QStringList{"a.bmp", "B2.bmp"}));
    b.Dir1->setPath(shown);
    // A volume unmounted since the list was made: the folder stays, the box shows its volume.
    b.Drive1->addItem(QStringLiteral("/no/such/volume"));
    b.Drive1->setCurrentIndex(b.Drive1->count() - 1);
    b.Drive1->activated(b.Drive1->currentIndex());
    QCOMPARE(b.Dir1->path(), shown);
    QCOMPARE(b.Drive1->drive(), DriveList::driveOf(shown));
    b.cmbFileTypes->setEditText(QStringLiteral("*.gi"));
    QCOMPARE(entries(b.File1->model()), QStringList{});
    b.cmbFileTypes->setEditText(QStringLiteral("*.gif"));
    QCOMPARE(entries(b.File1->model()), QStringList{"d.gif"});
    b.cmbFileTypes->setCurrentIndex(1); // "*.*" from the drop-down
    QCOMPARE(entries(b.File1->model()),
             (QStringList{"a.bmp", "b.BMP", "c.bmp", "d.gif", "notes.txt"}));
}

void TestFileDialogs::clearList_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("yes");
    QTest::newRow("empty list asks nothing") << 0 << true;
    QTest::newRow("yes") << 2 << true;
    QTest::newRow("no") << 2 << false;
}

void TestFileDialogs::clearList()
{
    QFETCH(int, entries);
    QFETCH(bool, yes);
    ScriptedDesktop desk;
    desk.answers = {yes ? Desktop::Answer::Yes : Desktop::Answer::No};
    frmMain w;
    w.LoadPic(control<PictureSurface>(w, "picSprite"), file("a.bmp"));
    w.addFiles(QStringList(entries, file("a.bmp")), true);
    w.ControlsEnabled(true);
    control<QPushButton>(w, "cmdClearList")->click();
    QCOMPARE(desk.messages.size(), entries ? 1 : 0);
    if (entries)
        QCOMPARE(desk.messages[0].text,
                 QStringLiteral("Are you sure you want to clear the file list?"));
    QCOMPARE(control<QComboBox>(w, "lstFiles")->count(), yes ? 0 : entries);
    QCOMPARE(control<QPushButton>(w, "cmdAppendFiles")->isEnabled(), !(entries && yes));
    QCOMPARE(w.currentFile(), file("a.bmp")); // Mask Current still has its sprite
}

// The list takes more entries than a 16-bit count; picking one loads it, and a failed load is
// logged and keeps the picture shown.
void TestFileDialogs::pickingAnEntryLoadsIt()
{
    frmMain w;
    w.addFiles(QStringList(40000, QStringLiteral("/s/x.bmp")), true);
    w.addFiles({file("a.bmp"), file("b.BMP")}, false);
    auto *list = control<QComboBox>(w, "lstFiles");
    QCOMPARE(list->count(), 40002);
    QCOMPARE(list->currentIndex(), -1); // adding picks nothing
    list->setCurrentIndex(40001);
    list->activated(40001);
    QCOMPARE(w.currentFile(), file("b.BMP"));
    QCOMPARE(control<PictureSurface>(w, "picMask")->image().size(), QSize(20, 5));
    QCOMPARE(control<QLabel>(w, "lblFileStat")->text(), QStringLiteral("File 0 of 0"));
    auto *sprite = control<PictureSurface>(w, "picSprite");
    QVERIFY(!w.LoadPic(sprite, file("notes.txt")));
    QCOMPARE(w.currentFile(), file("notes.txt"));
    QCOMPARE(sprite->image(), flat(20, 5, 0xFF00FF00));
    const QString log = DebugLog.GetHistory();
    QVERIFY2(log.contains("] Can't load '" + file("notes.txt") + "' (Err#481: "), qPrintable(log));
}

// The Save dialog is driven through its controls: name, extension, Okay or Cancel.
void TestFileDialogs::saveAsAsksAndReports_data()
{
    QTest::addColumn<QString>("typed"); // "click": a click on the first file replaces the name
    QTest::addColumn<QString>("ext");
    QTest::addColumn<int>("end"); // 1 Okay, 0 Cancel, -1 the close box
    QTest::addColumn<QList<Desktop::Answer>>("answers");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    using A = Desktop::Answer;
    const auto row = [](const char *tag, const QString &typed, const QString &ext, int end,
                        const QList<A> &answers, const QString &message, const QString &written) {
        QTest::newRow(tag) << typed << ext << end << answers << message << written;
    };
    const QString exists = "already exists! Overwrite?";
    row("new file", "new", ".bmp", 1, {}, "", "new.bmp");
    row("a click on a file replaces the name", "click", ".jpg", 1, {}, "", "a.bmp.jpg");
    row("existing, yes", "a", ".bmp", 1, {A::Yes}, exists, "a.bmp");
    row("existing, no", "a", ".bmp", 1, {A::No}, exists, "");
    row("a link to nowhere, no", "gone", ".bmp", 1, {A::No}, exists, "");
    row("missing folder", "nowhere/x", ".bmp", 1, {}, "Path not found", "");
    row("cancel", "new", ".bmp", 0, {}, "", "");
    row("close box", "new", ".bmp", -1, {}, "", "");
}

void TestFileDialogs::saveAsAsksAndReports()
{
    QFETCH(QString, typed);
    QFETCH(QString, ext);
    QFETCH(int, end);
    QFETCH(QList<Desktop::Answer>, answers);
    QFETCH(QString, message);
    QFETCH(QString, written);
    QDir::setCurrent(m_box->files.path());
    QVERIFY(typed != "gone" || QFile::link(file("nowhere.bmp"), file("gone.bmp")));
    ScriptedDesktop desk;
    desk.answers = answers;
    QString startFolder;
    desk.onDialog = [&](QDialog &d) {
        auto &s = static_cast<frmSave &>(d);
        startFolder = s.File1->path();
        s.txtFilename->setText(typed);
        if (typed == "click")
            s.File1->itemClicked(s.File1->item(0));
        s.cmbExtension->setEditText(ext);
        if (end < 0)
            return d.close() ? 0 : 0;
        (end ? s.cmdOkay : s.cmdCancel)->click();
        return end;
    };
    frmMain w;
    control<QAction>(w, "chkPromptOverwrite")->setChecked(false); // Save As asks regardless
    const QImage sprite = flat(4, 3, 0xFF123456);
    control<PictureSurface>(w, "picSprite")->setPicture(sprite);
    control<QAction>(w, "mnuSaveSprite")->setEnabled(true);
    control<QAction>(w, "mnuSaveSprite")->trigger();
    QCOMPARE(startFolder, QDir(m_box->files.path()).canonicalPath());
    if (message.isEmpty())
        QVERIFY(desk.messages.isEmpty());
    else
        QVERIFY(desk.messages.value(0).text.contains(message));
    QStringList changed; // the files now holding the sprite
    for (const QString &name : QDir(m_box->files.path()).entryList(QDir::Files))
        if (QImage(file(name)).convertToFormat(sprite.format()) == sprite)
            changed.append(name);
    QCOMPARE(changed, written.isEmpty() ? QStringList{} : QStringList{written});
}

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"
