// Saving back when the world around fails: a full disk, a pipe in the
// workbook's place, an access list and extended attributes to keep.

#include "filesizelimit.h"
#include "xlsxdocument.h"
#include "xlsxtestutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace xlsxtest;

namespace {

QString run(const QString &program, const QStringList &arguments, bool *ok = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (ok)
        *ok = done;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A small file system of its own, unmounted again when done.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &path) : m_path(QFile::encodeName(path))
    {
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(m_path.constData());
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

} // namespace

class TestXlsxSaveFaults : public QObject
{
    Q_OBJECT

private slots:
    void fullDisk_data();
    void fullDisk();
    void pipeInItsPlace();
    void accessListAndAttributesKept();
};

void TestXlsxSaveFaults::fullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("a nearly full disk") << true;
    QTest::newRow("a file size limit") << false;
}

// A workbook smaller than any write buffer: the failure shows only when the
// data reaches the disk, and the old file must stay byte for byte.
void TestXlsxSaveFaults::fullDisk()
{
    QFETCH(bool, tmpfs);
    QTemporaryDir dir;
    std::unique_ptr<SmallDisk> disk;
    if (tmpfs) {
        disk.reset(new SmallDisk(dir.path()));
        if (!disk->mounted())
            QSKIP("cannot mount a small file system here (needs root)");
    }
    const QString path = dir.filePath(QStringLiteral("device.xlsx"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("values.xlsx")), path));
    const QByteArray before = readFile(path);
    QXlsx::Document doc(path);
    QVERIFY(doc.selectSheet(QStringLiteral("device")));

    bool saved = true;
    if (tmpfs) {
        // Fill the disk but for 2 KiB.
        QFile filler(dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) {}
        filler.close();
        QVERIFY(filler.resize(filler.size() - 2048));
        saved = doc.saveAs(path);
    } else {
        FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        saved = doc.saveAs(path);
    }
    QVERIFY(!saved);
    QCOMPARE(int(doc.saveError().kind), int(QXlsx::SaveError::CannotWrite));
    QVERIFY(!doc.saveError().detail.isEmpty());
    QCOMPARE(readFile(path), before);
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(QStringLiteral("filler"));
    QCOMPARE(left, QStringList{"device.xlsx"});
}

void TestXlsxSaveFaults::pipeInItsPlace()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("device.xlsx"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(!doc.saveAs(path));
    QCOMPARE(int(doc.saveError().kind), int(QXlsx::SaveError::NotRegularFile));
    QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile());
}

// The access list (with its mask) and the user's attributes come over as they
// were; nothing is widened.
void TestXlsxSaveFaults::accessListAndAttributesKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.xlsx"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("values.xlsx")), path));
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    bool ok = false;
    run(QStringLiteral("setfacl"), {"-m", "u:5003:rw", path}, &ok);
    if (!ok)
        QSKIP("no access lists here (setfacl missing or not supported)");
    run(QStringLiteral("setfattr"), {"-n", "user.note", "-v", "inspected", path}, &ok);
    QVERIFY2(ok, "setfattr failed");
    const auto acl = [&] { return run(QStringLiteral("getfacl"), {"-c", "-p", path}); };
    const auto attributes = [&] { return run(QStringLiteral("getfattr"), {"-d", "--absolute-names", path}); };
    const QString aclBefore = acl();
    const QString attributesBefore = attributes();
    QVERIFY(aclBefore.contains(QLatin1String("user:5003:rw-")));
    QVERIFY(aclBefore.contains(QLatin1String("group::r--")));
    QVERIFY(attributesBefore.contains(QLatin1String("user.note=\"inspected\"")));

    QXlsx::Document doc(path);
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    QVERIFY(doc.saveAs(path));
    QCOMPARE(acl(), aclBefore);
    QCOMPARE(attributes(), attributesBefore);
}

QTEST_GUILESS_MAIN(TestXlsxSaveFaults)
#include "tst_xlsxsavefaults.moc"
