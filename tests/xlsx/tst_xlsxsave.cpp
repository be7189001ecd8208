// Saving a workbook back: every part kept as it was but the active and
// selected tabs, written atomically.

#include "unprivileged.h"
#include "xlsxdocument.h"
#include "xlsxtestutil.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsxtest;

namespace {

const QString WorkbookPart = QStringLiteral("xl/workbook.xml");

QByteArray withoutTabAttributes(QByteArray xml)
{
    static const QRegularExpression attributes(QStringLiteral(R"( (activeTab|firstSheet)="[0-9]+")"));
    return QString::fromUtf8(xml).remove(attributes).toUtf8();
}

int attributeValue(const QByteArray &xml, const char *name)
{
    const QRegularExpression re(QStringLiteral("<workbookView[^>]* %1=\"([0-9]+)\"").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(xml));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Compares every entry of two packages: the same names in the same order, each
// kept as stored but the workbook part and the sheet parts, which may differ in
// their view start tags only. The names of those that differ go to changed.
void compareEntries(const QString &before, const QString &after, QStringList *changed = nullptr)
{
    bool ok1 = false, ok2 = false;
    const QVector<Entry> a = zipEntries(before, &ok1);
    const QVector<Entry> b = zipEntries(after, &ok2);
    QVERIFY(ok1 && ok2);
    QStringList namesA, namesB;
    for (const Entry &e : a)
        namesA << e.name;
    for (const Entry &e : b)
        namesB << e.name;
    QCOMPARE(namesB, namesA);
    const Selection s = readSelection(after);
    QVERIFY(s.ok);
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].data != b[i].data) {
            QVERIFY2(partKey(a[i].name) == s.workbookPart || s.sheetParts.contains(partKey(a[i].name)), qPrintable(a[i].name));
            QVERIFY2(withoutViewTags(a[i].data) == withoutViewTags(b[i].data), qPrintable(a[i].name));
            if (changed)
                *changed << a[i].name;
            continue;
        }
        QVERIFY2(a[i].raw == b[i].raw, qPrintable(a[i].name + QLatin1String(" (compressed)")));
        QCOMPARE(b[i].method, a[i].method);
    }
}

// openpyxl reads the saved workbook as the source but for its active sheet.
void openpyxlReadsItAlike(const QString &source, const QString &saved, int active)
{
    if (!openpyxlAvailable())
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    const Dump before = openpyxlDump(source);
    const Dump after = openpyxlDump(saved);
    QVERIFY2(before.ok && after.ok, qPrintable(before.error + after.error));
    QCOMPARE(withoutActive(after.lines), withoutActive(before.lines));
    QCOMPARE(after.active, active);
}

// The tabs selected in the first workbook view.
QVector<int> selectedTabs(const Selection &s)
{
    QVector<int> tabs;
    for (int i = 0; i < s.selected.size(); ++i) {
        if (s.selected[i])
            tabs << i;
    }
    return tabs;
}

// values.xlsx (sheets device, device_2, empty) with the given sheet states,
// activeTab and firstSheet, and tabSelected on the sheets in selected.
QString viewVariant(const QString &path, const QStringList &states, int active, int first, const QVector<int> &selected,
                    const QByteArray &selectedValue = "1")
{
    bool ok = false;
    QVector<std::pair<QString, QByteArray>> parts;
    for (const Entry &e : zipEntries(fixture(QStringLiteral("values.xlsx")), &ok)) {
        QByteArray data = e.data;
        if (e.name == WorkbookPart) {
            data.replace("firstSheet=\"0\" activeTab=\"1\"", "firstSheet=\"" + QByteArray::number(first) + "\" activeTab=\"" + QByteArray::number(active) + "\"");
            int at = 0;
            for (const QString &state : states) {
                at = data.indexOf("state=\"visible\"", at);
                data.replace(at, 15, "state=\"" + state.toLatin1() + "\"");
                ++at;
            }
        }
        for (const int tab : selected) {
            if (e.name == QStringLiteral("xl/worksheets/sheet%1.xml").arg(tab + 1))
                data.replace("<sheetView ", "<sheetView tabSelected=\"" + selectedValue + "\" ");
        }
        parts.append({e.name, data});
    }
    return ok && writeZip(path, parts) ? path : QString();
}

} // namespace

class TestXlsxSave : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void compressedBytesKeptAsStored();
    void saveOverTheSourceFile();
    void bookViewsAddedWhenMissing();
    void firstSheetFollowsTheActiveTab();
    void hiddenSheetsAndSelectedTabs_data();
    void hiddenSheetsAndSelectedTabs();
    void uneditableSheetPartWritesNothing();
    void unloadedDocumentWritesNothing();
    void missingFolder();
    void readOnlyTarget();
    void unwritableFolder();

private:
    QTemporaryDir m_dir;
};

void TestXlsxSave::roundTrip_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("changed");
    QTest::newRow("openpyxl, other sheet") << "values.xlsx" << "device" << 0 << true;
    QTest::newRow("openpyxl, same sheet") << "values.xlsx" << "device_2" << 1 << false;
    QTest::newRow("openpyxl, last sheet") << "values.xlsx" << "empty" << 2 << true;
    QTest::newRow("Calc") << "libreoffice.xlsx" << "prices" << 0 << true;
    QTest::newRow("Calc rich text") << "richtext.xlsx" << "rich" << 0 << false;
    QTest::newRow("chart sheet selected") << "chartsheet.xlsx" << "chart" << 1 << true;
    QTest::newRow("1904") << "date1904.xlsx" << "mac" << 0 << false;
    QTest::newRow("edited") << "edited.xlsx" << "plain" << 1 << true;
    QTest::newRow("strict") << "strict.xlsx" << "strict" << 0 << false;
}

void TestXlsxSave::roundTrip()
{
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    QFETCH(int, index);
    QFETCH(bool, changed);
    const QString source = fixture(file);
    const QString target = m_dir.filePath(QStringLiteral("round-") + file);
    QFile::remove(target);

    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(sheet));
    const QStringList cellsBefore = selectedCells(doc);
    QVERIFY(doc.saveAs(target));

    QStringList changedParts;
    compareEntries(source, target, &changedParts);
    if (QTest::currentTestFailed())
        return;
    if (changed) {
        QVERIFY(changedParts.contains(WorkbookPart));
        QCOMPARE(withoutTabAttributes(zipEntry(target, WorkbookPart)), withoutTabAttributes(zipEntry(source, WorkbookPart)));
    } else {
        QCOMPARE(readFile(target), readFile(source)); // nothing to edit: the very bytes
    }
    // The selected sheet is the active tab and the only one selected.
    const Selection s = readSelection(target);
    QVERIFY(s.ok);
    QCOMPARE(s.activeTab, index);
    const QVector<int> tabs = selectedTabs(s);
    QVERIFY(tabs.isEmpty() || tabs == QVector<int>({index}));
    QVERIFY(!changed || !s.hasView[index] || tabs == QVector<int>({index}));

    // Read back: the selected sheet comes up first, every sheet as before.
    QXlsx::Document again(target);
    QVERIFY(again.isLoaded());
    QCOMPARE(selectedCells(again), cellsBefore);
    QCOMPARE(again.sheetNames(), doc.sheetNames());
    for (const QString &name : doc.sheetNames()) {
        QVERIFY(doc.selectSheet(name) && again.selectSheet(name));
        QCOMPARE(selectedCells(again), selectedCells(doc));
    }

    if (file == QLatin1String("strict.xlsx"))
        return; // openpyxl does not read strict workbooks
    openpyxlReadsItAlike(source, target, index);
}

// Entries stored or deflated differently from what the writer would do itself
// must come out as they were.
void TestXlsxSave::compressedBytesKeptAsStored()
{
    const QString source = m_dir.filePath(QStringLiteral("mixed.xlsx"));
    {
        bool ok = false;
        const QVector<Entry> entries = zipEntries(fixture(QStringLiteral("values.xlsx")), &ok);
        QVERIFY(ok);
        QuaZip zip(source);
        QVERIFY(zip.open(QuaZip::mdCreate));
        for (int i = 0; i < entries.size(); ++i) {
            QuaZipFile f(&zip);
            const bool stored = i % 2 == 0;
            QVERIFY(f.open(QIODevice::WriteOnly, QuaZipNewInfo(entries[i].name), nullptr, 0, stored ? 0 : Z_DEFLATED, stored ? 0 : 1));
            QCOMPARE(f.write(entries[i].data), qint64(entries[i].data.size()));
            f.close();
        }
        zip.close();
        QCOMPARE(zip.getZipError(), ZIP_OK);
    }
    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    const QString target = m_dir.filePath(QStringLiteral("mixed-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    compareEntries(source, target);
    QCOMPARE(readSelection(target).activeTab, 0);
}

void TestXlsxSave::saveOverTheSourceFile()
{
    const QString path = m_dir.filePath(QStringLiteral("over.xlsx"));
    QFile::remove(path);
    QVERIFY(QFile::copy(fixture(QStringLiteral("libreoffice.xlsx")), path));
    {
        QXlsx::Document doc(path);
        QVERIFY(doc.selectSheet(QStringLiteral("prices")));
        QVERIFY(doc.saveAs(path));
        // The document still works after its file was replaced.
        QCOMPARE(doc.cellAt(2, 5)->value(), QVariant(QStringLiteral("bolt-10")));
    }
    compareEntries(fixture(QStringLiteral("libreoffice.xlsx")), path);
    QCOMPARE(attributeValue(zipEntry(path, WorkbookPart), "activeTab"), 0);
    QXlsx::Document again(path);
    QVERIFY(again.isLoaded());
    QCOMPARE(again.cellAt(2, 5)->value(), QVariant(QStringLiteral("bolt-10")));
}

void TestXlsxSave::bookViewsAddedWhenMissing()
{
    const QString source = fixture(QStringLiteral("values.xlsx"));
    QByteArray workbook = zipEntry(source, WorkbookPart);
    const int from = workbook.indexOf("<bookViews>");
    const int to = workbook.indexOf("</bookViews>") + int(qstrlen("</bookViews>"));
    QVERIFY(from > 0 && to > from);
    workbook.remove(from, to - from);
    const QString input = m_dir.filePath(QStringLiteral("noviews.xlsx"));
    QVERIFY(editZip(source, input, WorkbookPart, workbook));

    QXlsx::Document doc(input);
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.cellAt(1, 1)->value(), QVariant(QStringLiteral("id"))); // no view: the first sheet

    // The first sheet is what the file means already: the part stays as it is.
    const QString same = m_dir.filePath(QStringLiteral("noviews-same.xlsx"));
    QVERIFY(doc.saveAs(same));
    QCOMPARE(zipEntry(same, WorkbookPart), workbook);

    QVERIFY(doc.selectSheet(QStringLiteral("empty")));
    const QString target = m_dir.filePath(QStringLiteral("noviews-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    QByteArray expected = workbook;
    expected.insert(workbook.indexOf("<sheets>"), "<bookViews><workbookView activeTab=\"2\"/></bookViews>");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);
    if (!openpyxlAvailable())
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    QCOMPARE(openpyxlDump(target).active, 2);
}

void TestXlsxSave::firstSheetFollowsTheActiveTab()
{
    const QString source = fixture(QStringLiteral("values.xlsx"));
    QByteArray workbook = zipEntry(source, WorkbookPart);
    QVERIFY(workbook.contains("firstSheet=\"0\" activeTab=\"1\""));
    workbook.replace("firstSheet=\"0\" activeTab=\"1\"", "firstSheet=\"2\" activeTab=\"2\"");
    const QString input = m_dir.filePath(QStringLiteral("firstsheet.xlsx"));
    QVERIFY(editZip(source, input, WorkbookPart, workbook));

    QXlsx::Document doc(input);
    QVERIFY(doc.selectSheet(QStringLiteral("device_2")));
    const QString target = m_dir.filePath(QStringLiteral("firstsheet-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    QByteArray expected = workbook;
    expected.replace("firstSheet=\"2\" activeTab=\"2\"", "firstSheet=\"1\" activeTab=\"1\"");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);

    // Moving right of firstSheet leaves it alone.
    QXlsx::Document saved(target);
    QVERIFY(saved.selectSheet(QStringLiteral("empty")));
    QVERIFY(saved.saveAs(target));
    expected.replace("firstSheet=\"1\" activeTab=\"1\"", "firstSheet=\"1\" activeTab=\"2\"");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);
}

void TestXlsxSave::hiddenSheetsAndSelectedTabs_data()
{
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("first");
    QTest::addColumn<QVector<int>>("selected");
    QTest::addColumn<int>("select"); // -1: every sheet in turn, as a batch run does
    QTest::addColumn<int>("expectedActive");
    QTest::addColumn<int>("expectedFirst");
    QTest::addColumn<bool>("identical");
    const QString v = QStringLiteral("visible"), h = QStringLiteral("hidden"), vh = QStringLiteral("veryHidden");
    QTest::newRow("hidden last sheet") << QStringList{v, v, h} << 0 << 0 << QVector<int>{0} << -1 << 1 << 0 << false;
    QTest::newRow("hidden last sheet, the file's own choice") << QStringList{v, v, h} << 1 << 0 << QVector<int>{1} << -1 << 1 << 0 << true;
    QTest::newRow("none visible before it") << QStringList{vh, v, v} << 2 << 1 << QVector<int>{2} << 0 << 1 << 1 << false;
    QTest::newRow("a group selected in the file") << QStringList{v, v, v} << 2 << 0 << QVector<int>{1, 2} << -1 << 2 << 0 << false;
    QTest::newRow("firstSheet on a hidden sheet") << QStringList{h, v, v} << 1 << 0 << QVector<int>{1} << -1 << 2 << 1 << false;
    QTest::newRow("firstSheet after the active tab") << QStringList{v, v, v} << 2 << 2 << QVector<int>{2} << 0 << 0 << 0 << false;
}

// The active tab is the selected sheet or, when it is hidden, the nearest
// visible one before it (else after it); no other tab stays selected; firstSheet
// stays at or before the active tab, on a visible sheet.
void TestXlsxSave::hiddenSheetsAndSelectedTabs()
{
    QFETCH(QStringList, states);
    QFETCH(int, active);
    QFETCH(int, first);
    QFETCH(QVector<int>, selected);
    QFETCH(int, select);
    QFETCH(int, expectedActive);
    QFETCH(int, expectedFirst);
    QFETCH(bool, identical);
    const QString source = viewVariant(m_dir.filePath(QStringLiteral("views.xlsx")), states, active, first, selected);
    QVERIFY(!source.isEmpty());
    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    const QStringList names = doc.sheetNames();
    if (select < 0) {
        for (const QString &name : names)
            QVERIFY(doc.selectSheet(name));
    } else {
        QVERIFY(doc.selectSheet(names.value(select)));
    }
    const QString target = m_dir.filePath(QStringLiteral("views-saved.xlsx"));
    QFile::remove(target);
    QVERIFY(doc.saveAs(target));

    QCOMPARE(readFile(target) == readFile(source), identical);
    compareEntries(source, target);
    const Selection s = readSelection(target);
    QVERIFY(s.ok);
    QCOMPARE(s.states, states);
    QCOMPARE(s.activeTab, expectedActive);
    QCOMPARE(s.firstSheet, expectedFirst);
    QCOMPARE(selectedTabs(s), QVector<int>{expectedActive});

    openpyxlReadsItAlike(source, target, expectedActive);
}

// A tabSelected the reader reads but the edit cannot change (a character
// reference) fails the save; nothing is written.
void TestXlsxSave::uneditableSheetPartWritesNothing()
{
    const QString source = viewVariant(m_dir.filePath(QStringLiteral("reference.xlsx")), {QStringLiteral("visible"),
        QStringLiteral("visible"), QStringLiteral("visible")}, 0, 0, {0}, "&#49;");
    QVERIFY(!source.isEmpty());
    QXlsx::Document doc(source);
    QVERIFY(doc.selectSheet(QStringLiteral("empty")));
    const QString target = m_dir.filePath(QStringLiteral("reference-saved.xlsx"));
    QVERIFY(!doc.saveAs(target));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(doc.saveAs(source) == false);
    QVERIFY(QXlsx::Document(source).isLoaded());
}

void TestXlsxSave::unloadedDocumentWritesNothing()
{
    QXlsx::Document doc(m_dir.filePath(QStringLiteral("does-not-exist.xlsx")));
    QVERIFY(!doc.isLoaded());
    const QString target = m_dir.filePath(QStringLiteral("never.xlsx"));
    QVERIFY(!doc.saveAs(target));
    QVERIFY(!QFile::exists(target));

    const QString existing = m_dir.filePath(QStringLiteral("existing.xlsx"));
    QVERIFY(writeFile(existing, "keep me"));
    QVERIFY(!doc.saveAs(existing));
    QCOMPARE(readFile(existing), QByteArray("keep me"));
}

void TestXlsxSave::missingFolder()
{
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("no/such/folder/x.xlsx"))));
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("no"))));
    QVERIFY(!doc.saveAs(m_dir.path())); // a folder is no target
}

void TestXlsxSave::readOnlyTarget()
{
    QTemporaryDir dir;
    makeWorldAccessible(dir.path());
    const QString target = dir.filePath(QStringLiteral("readonly.xlsx"));
    QVERIFY(writeFile(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    {
        Unprivileged user;
        if (!user.active())
            QSKIP("cannot drop root privileges, so file permissions do not apply");
        QVERIFY(!doc.saveAs(target));
    }
    QCOMPARE(readFile(target), QByteArray("old contents"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("readonly.xlsx")));
}

void TestXlsxSave::unwritableFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    // A writable file in a folder nobody may write to: there is no room for the new copy.
    const QString target = folder + QLatin1String("/writable.xlsx");
    QVERIFY(writeFile(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther | QFileDevice::WriteOther));
    makeWorldAccessible(dir.path());
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther));
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    {
        Unprivileged user;
        if (!user.active())
            QSKIP("cannot drop root privileges, so file permissions do not apply");
        QVERIFY(!doc.saveAs(target));
        QVERIFY(!doc.saveAs(folder + QLatin1String("/new.xlsx")));
    }
    QCOMPARE(readFile(target), QByteArray("old contents"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("writable.xlsx")));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QTEST_GUILESS_MAIN(TestXlsxSave)
#include "tst_xlsxsave.moc"
