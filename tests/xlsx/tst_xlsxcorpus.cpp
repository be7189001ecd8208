// Workbooks nobody here wrote (the folder in KESTROVA_XLSX_CORPUS, else
// ../shared/xlsx-corpus beside the source): each is read as openpyxl reads it,
// saved back after every sheet was selected in turn, as a batch run does, and
// the saved file is read again. Without the folder the test is skipped.

#include "xlsxdocument.h"
#include "xlsxtestutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cstdio>

using namespace xlsxtest;

namespace {

constexpr int SkipCode = 77;

// Not readable workbooks, as the corpus README says: a bad CRC, an encrypted file.
const QStringList Refused = {QStringLiteral("quirks/issue252.xlsx"), QStringLiteral("quirks/pass_protected.xlsx")};

// Files where openpyxl does not apply the _xHHHH_ escape rule (it leaves
// escapes undecoded, or decodes one twice); the corpus README names four
// of them. There the rule, applied to the text as stored, is the reference.
bool openpyxlMissesEscapes(const QString &name)
{
    const QString file = QFileInfo(name).fileName();
    return file.startsWith(QLatin1String("has_x000D_"))
        || QStringList({QStringLiteral("escapes09.xlsx"), QStringLiteral("optimize06.xlsx"), QStringLiteral("optimize07.xlsx"),
                        QStringLiteral("shared_strings01.xlsx"), QStringLiteral("shared_strings02.xlsx"),
                        QStringLiteral("shared_strings03.xlsx")})
               .contains(file);
}

QString decodeEscapes(const QString &s)
{
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    int at = 0;
    for (auto it = escape.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += s.mid(at, m.capturedStart() - at) + QChar(ushort(m.captured(1).toUInt(nullptr, 16)));
        at = m.capturedEnd();
    }
    return out + s.mid(at);
}

QString corpusDir()
{
    const QString env = qEnvironmentVariable("KESTROVA_XLSX_CORPUS");
    return env.isEmpty() ? QStringLiteral(KESTROVA_XLSX_CORPUS_DEFAULT) : env;
}

struct ZipRecord
{
    QByteArray name;
    QByteArray local; // local header, data and data descriptor
    QByteArray central; // central directory record with its local header offset zeroed
};

class Bytes
{
public:
    explicit Bytes(const QByteArray &b) : m_b(b) {}
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at + n <= m_b.size(); }
    quint64 get(qint64 at, int n) const
    {
        quint64 v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = v << 8 | uchar(m_b.at(int(at) + i));
        return v;
    }

private:
    const QByteArray &m_b;
};

bool zipRecords(const QByteArray &zip, QVector<ZipRecord> *out)
{
    const Bytes b(zip);
    qint64 end = -1;
    for (qint64 at = zip.size() - 22; at >= 0 && at >= zip.size() - 22 - 0xffff; --at) {
        if (b.get(at, 4) == 0x06054b50 && at + 22 + qint64(b.get(at + 20, 2)) == zip.size()) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return false;
    quint64 count = b.get(end + 10, 2);
    quint64 offset = b.get(end + 16, 4);
    if (count == 0xffff || offset == 0xffffffff) {
        const qint64 locator = end - 20;
        if (!b.has(locator, 20) || b.get(locator, 4) != 0x07064b50)
            return false;
        const qint64 record = qint64(b.get(locator + 8, 8));
        if (!b.has(record, 56) || b.get(record, 4) != 0x06064b50)
            return false;
        count = b.get(record + 32, 8);
        offset = b.get(record + 48, 8);
    }
    qint64 at = qint64(offset);
    for (quint64 i = 0; i < count; ++i) {
        if (!b.has(at, 46) || b.get(at, 4) != 0x02014b50)
            return false;
        const int nameLength = int(b.get(at + 28, 2));
        const int extraLength = int(b.get(at + 30, 2));
        const int commentLength = int(b.get(at + 32, 2));
        const int size = 46 + nameLength + extraLength + commentLength;
        if (!b.has(at, size))
            return false;
        ZipRecord r;
        r.name = zip.mid(int(at) + 46, nameLength);
        r.central = zip.mid(int(at), size);
        quint64 packed = b.get(at + 20, 4);
        const quint64 unpacked = b.get(at + 24, 4);
        quint64 local = b.get(at + 42, 4);
        int offsetAt = 42;
        int offsetSize = 4;
        // Zip64 extra field: the sizes and the offset that did not fit, in this order.
        for (qint64 e = at + 46 + nameLength; e + 4 <= at + 46 + nameLength + extraLength;) {
            const int id = int(b.get(e, 2));
            const int length = int(b.get(e + 2, 2));
            if (id == 1) {
                qint64 f = e + 4;
                if (unpacked == 0xffffffff)
                    f += 8;
                if (packed == 0xffffffff) {
                    packed = b.get(f, 8);
                    f += 8;
                }
                if (local == 0xffffffff) {
                    local = b.get(f, 8);
                    offsetAt = int(f - at);
                    offsetSize = 8;
                }
            }
            e += 4 + length;
        }
        r.central.replace(offsetAt, offsetSize, QByteArray(offsetSize, '\0'));

        const qint64 l = qint64(local);
        if (!b.has(l, 30) || b.get(l, 4) != 0x04034b50)
            return false;
        const bool descriptor = b.get(l + 6, 2) & 8;
        const qint64 localExtra = qint64(b.get(l + 28, 2));
        qint64 stop = l + 30 + qint64(b.get(l + 26, 2)) + localExtra + qint64(packed);
        if (descriptor) {
            if (b.has(stop, 4) && b.get(stop, 4) == 0x08074b50)
                stop += 4;
            const bool zip64 = zip.mid(int(l + 30 + qint64(b.get(l + 26, 2))), int(localExtra)).startsWith(QByteArray("\x01\x00", 2));
            stop += zip64 ? 20 : 12;
        }
        if (!b.has(l, stop - l))
            return false;
        r.local = zip.mid(int(l), int(stop - l));
        out->append(r);
        at += size;
    }
    return true;
}

// The text of the <si> or <is> element just started: its <t>, or its runs'
// <t> joined, leaving out phonetic runs; escapes as stored.
QString itemText(QXmlStreamReader &x)
{
    QString text;
    int depth = 0;
    int phonetic = -1;
    bool inText = false;
    while (!x.atEnd()) {
        const QXmlStreamReader::TokenType t = x.readNext();
        if (t == QXmlStreamReader::StartElement) {
            ++depth;
            if (x.name() == QLatin1String("rPh") && phonetic < 0)
                phonetic = depth;
            inText = x.name() == QLatin1String("t");
        } else if (t == QXmlStreamReader::EndElement) {
            if (depth == 0)
                break;
            if (depth == phonetic)
                phonetic = -1;
            --depth;
            inText = false;
        } else if (t == QXmlStreamReader::Characters && inText && phonetic < 0) {
            text += x.text();
        }
    }
    return text;
}

// Each string cell's text as stored, by "sheet,row,column".
QHash<QString, QString> storedStrings(const QString &path)
{
    const QHash<QString, QByteArray> parts = partsOf(zipEntries(path));
    const Selection s = readSelection(parts);
    const QString strings = relationshipTarget(relationships(parts.value(relationshipsPart(s.workbookPart)), s.workbookPart), QStringLiteral("/sharedStrings"));
    QStringList shared;
    QXmlStreamReader sst(parts.value(strings));
    while (!sst.atEnd()) {
        if (sst.readNext() == QXmlStreamReader::StartElement && sst.name() == QLatin1String("si"))
            shared << itemText(sst);
    }
    static const QRegularExpression reference(QStringLiteral("^([A-Z]+)([0-9]+)$"));
    QHash<QString, QString> cells;
    for (int i = 0; i < s.sheetParts.size(); ++i) {
        QXmlStreamReader x(parts.value(s.sheetParts[i]));
        QString key, type;
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == QLatin1String("c")) {
                const QRegularExpressionMatch m = reference.match(x.attributes().value(QLatin1String("r")).toString());
                int column = 0;
                for (const QChar c : m.captured(1))
                    column = column * 26 + (c.unicode() - 'A' + 1);
                key = QStringLiteral("%1,%2,%3").arg(i).arg(m.captured(2).toInt()).arg(column);
                type = x.attributes().value(QLatin1String("t")).toString();
            } else if (x.name() == QLatin1String("v") && type == QLatin1String("s")) {
                cells.insert(key, shared.value(x.readElementText().toInt()));
            } else if (x.name() == QLatin1String("is")) {
                cells.insert(key, itemText(x));
            }
        }
    }
    return cells;
}

// openpyxl's strings replaced by the escape rule applied to the stored text.
Dump withEscapeRule(Dump dump, const QString &path)
{
    const QHash<QString, QString> stored = storedStrings(path);
    for (Dump::Cell &c : dump.cells) {
        const QString key = QStringLiteral("%1,%2,%3").arg(c.sheet).arg(c.row).arg(c.column);
        if (c.type == QLatin1String("s") && stored.contains(key))
            c.value = decodeEscapes(stored.value(key));
    }
    return dump;
}

// Logs the first problems (control characters escaped); the count goes into the failure message.
QByteArray report(const QStringList &problems)
{
    for (const QString &p : problems.mid(0, 40)) {
        QString line;
        for (const QChar c : p)
            line += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
        qInfo("%s", qUtf8Printable(line));
    }
    return QByteArray::number(problems.size()) + " problem(s)" + (problems.size() > 40 ? ", the first 40 above" : " above");
}

} // namespace

class TestXlsxCorpus : public QObject
{
    Q_OBJECT

public:
    explicit TestXlsxCorpus(QString dir) : m_corpus(std::move(dir)) {}

private slots:
    void initTestCase();
    void everyFileLoadsOrIsRefused();
    void savedAfterEverySheetWasSelected();
    void valuesAgreeWithOpenpyxl();
    void unchangedEntriesKeptAsStored();

private:
    QString name(const QString &path) const { return QDir(m_corpus).relativeFilePath(path); }

    QString m_corpus;
    QTemporaryDir m_out;
    QStringList m_files;
    QStringList m_loaded;
    QHash<QString, QString> m_saved; // original -> saved copy
    bool m_openpyxl = false;
    OpenpyxlRun m_originalRun;
    OpenpyxlRun m_savedRun;
    QStringList m_rewritten; // entries not edited whose stored bytes changed
};

void TestXlsxCorpus::initTestCase()
{
    QVERIFY(m_out.isValid());
    QDirIterator it(m_corpus, {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        m_files << it.next();
    m_files.sort();
    QVERIFY2(!m_files.isEmpty(), qPrintable(m_corpus));
    m_openpyxl = openpyxlAvailable();
    if (m_openpyxl)
        m_originalRun.start(m_files, 2);
}

void TestXlsxCorpus::everyFileLoadsOrIsRefused()
{
    QStringList problems;
    int refused = 0;
    for (const QString &path : m_files) {
        const bool loaded = QXlsx::Document(path).isLoaded();
        const bool expected = !Refused.contains(name(path));
        if (loaded)
            m_loaded << path;
        else
            ++refused;
        if (loaded != expected)
            problems << name(path) + (loaded ? QLatin1String(" loaded") : QLatin1String(" not loaded"));
    }
    qInfo("%d files: %d loaded, %d refused", int(m_files.size()), int(m_loaded.size()), refused);
    QVERIFY2(problems.isEmpty(), report(problems).constData());
}

// Every sheet selected in turn, then saved: the last visible sheet is the
// active tab and the only one selected; our reader reads the same cells; an
// edited part differs only in its view start tags.
void TestXlsxCorpus::savedAfterEverySheetWasSelected()
{
    QStringList failed, cells, selection, edits;
    int identical = 0, manySelected = 0, hiddenActive = 0, firstSheetOff = 0;
    for (int i = 0; i < m_loaded.size(); ++i) {
        const QString &path = m_loaded[i];
        const QString target = m_out.filePath(QStringLiteral("%1.%2").arg(i).arg(QFileInfo(path).suffix()));
        QXlsx::Document doc(path);
        for (const QString &sheet : doc.sheetNames())
            doc.selectSheet(sheet);
        if (!doc.saveAs(target)) {
            failed << name(path);
            continue;
        }
        m_saved.insert(path, target);

        if (allCells(target) != allCells(path))
            cells << name(path);

        const QByteArray before = readFile(path);
        const QByteArray after = readFile(target);
        identical += before == after;
        bool ok1 = false, ok2 = false;
        const QVector<Entry> a = zipEntries(path, &ok1);
        const QVector<Entry> b = zipEntries(target, &ok2);
        const Selection s = readSelection(partsOf(b));
        if (!ok1 || !ok2 || !s.ok || a.size() != b.size()) {
            selection << name(path) + QLatin1String(": saved package does not read");
            continue;
        }
        int selected = 0;
        for (int k = 0; k < s.selected.size(); ++k)
            selected += s.selected[k] && k != s.activeTab;
        manySelected += selected > 0;
        hiddenActive += !s.visible(s.activeTab);
        firstSheetOff += s.firstSheet > s.activeTab || !s.visible(s.firstSheet);
        if (s.activeTab != s.expectedActive() || selected > 0 || !s.visible(s.activeTab) || s.firstSheet > s.activeTab
            || !s.visible(s.firstSheet))
            selection << QStringLiteral("%1: active %2 (expected %3), firstSheet %4, states %5, selected %6")
                             .arg(name(path)).arg(s.activeTab).arg(s.expectedActive()).arg(s.firstSheet)
                             .arg(s.states.join(QLatin1Char(',')))
                             .arg([&] { QStringList l; for (bool v : s.selected) l << QString::number(v); return l.join(QLatin1Char(',')); }());

        QVector<ZipRecord> ra, rb;
        if (!zipRecords(before, &ra) || !zipRecords(after, &rb) || ra.size() != a.size() || rb.size() != b.size()) {
            edits << name(path) + QLatin1String(": zip records do not read");
            continue;
        }
        bool edited = false;
        for (int k = 0; k < a.size(); ++k) {
            const QString entry = name(path) + QLatin1String(": ") + a[k].name;
            edited = edited || a[k].data != b[k].data;
            if (ra[k].name != rb[k].name) {
                edits << entry + QLatin1String(" renamed or moved");
            } else if (a[k].data == b[k].data) {
                if (ra[k].local != rb[k].local || ra[k].central != rb[k].central)
                    m_rewritten << entry;
            } else {
                const QString key = partKey(a[k].name);
                if (key != s.workbookPart && !s.sheetParts.contains(key))
                    edits << entry + QLatin1String(" changed though it holds no view");
                else if (withoutViewTags(a[k].data) != withoutViewTags(b[k].data))
                    edits << entry + QLatin1String(" changed outside the view tags");
            }
        }
        if (!edited && before != after)
            edits << name(path) + QLatin1String(": nothing edited, yet not the bytes read");
    }
    qInfo("%d saved: %d byte-identical; after saving %d with a sheet besides the active one selected, "
          "%d with a hidden active tab, %d with firstSheet after the active tab or hidden",
          int(m_saved.size()), identical, manySelected, hiddenActive, firstSheetOff);
    if (m_openpyxl) {
        QStringList saved;
        for (const QString &path : m_loaded)
            saved << m_saved.value(path);
        saved.removeAll(QString());
        m_savedRun.start(saved, 2);
    }
    QVERIFY2(failed.isEmpty(), report(failed).constData());
    QVERIFY2(cells.isEmpty(), report(cells).constData());
    QVERIFY2(selection.isEmpty(), report(selection).constData());
    QVERIFY2(edits.isEmpty(), report(edits).constData());
}

// Where openpyxl reads a workbook, ours reads the same values, before and
// after saving; openpyxl reads the saved file as it read the original.
void TestXlsxCorpus::valuesAgreeWithOpenpyxl()
{
    if (!m_openpyxl)
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    const QHash<QString, Dump> originals = m_originalRun.finish();
    const QHash<QString, Dump> saved = m_savedRun.finish();
    QStringList problems;
    int compared = 0;
    for (const QString &path : m_files) {
        if (!originals.contains(path)) {
            problems << name(path) + QLatin1String(": openpyxl did not run");
            continue;
        }
        Dump original = originals.value(path);
        if (!original.ok || original.sheets.isEmpty()) // it finds no sheet in a Strict workbook
            continue;
        ++compared;
        const bool escapes = openpyxlMissesEscapes(name(path));
        if (escapes)
            original = withEscapeRule(original, path);
        for (const QString &p : compareWithDump(path, original))
            problems << name(path) + QLatin1String(": ") + p;
        if (!m_saved.contains(path))
            continue;
        const QString target = m_saved.value(path);
        const Dump again = saved.value(target);
        if (!again.ok) {
            problems << name(path) + QLatin1String(": openpyxl does not read the saved file: ") + again.error;
            continue;
        }
        if (withoutActive(again.lines) != withoutActive(originals.value(path).lines))
            problems << name(path) + QLatin1String(": openpyxl reads the saved file otherwise");
        for (const QString &p : compareWithDump(target, escapes ? withEscapeRule(again, target) : again))
            problems << name(path) + QLatin1String(" saved: ") + p;
    }
    qInfo("%d files compared with openpyxl", compared);
    QVERIFY2(problems.isEmpty(), report(problems).constData());
}

void TestXlsxCorpus::unchangedEntriesKeptAsStored()
{
    if (m_saved.isEmpty())
        QSKIP("nothing was saved");
    qInfo("%d entries not edited but stored differently", int(m_rewritten.size()));
    QVERIFY2(m_rewritten.isEmpty(), report(m_rewritten).constData());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = corpusDir();
    if (!QFileInfo(dir).isDir()) {
        std::printf("SKIP: no workbook corpus at %s (set KESTROVA_XLSX_CORPUS)\n", qPrintable(dir));
        return SkipCode;
    }
    TestXlsxCorpus test(dir);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_xlsxcorpus.moc"
