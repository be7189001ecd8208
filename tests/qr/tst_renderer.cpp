#include "qr/qrrenderer.h"
#include "ui/kestrova.h"

#include "filesizelimit.h"
#include "logcapture.h"
#include "qrdecode.h"
#include "unprivileged.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#endif

namespace {

// Module scale and covered square, read off the image: the top-left finder
// pattern is 7 modules wide and the top-right one ends the covered columns.
struct Geometry
{
    int scale = 0;
    int covered = 0;
    int modules() const { return scale ? covered / scale : 0; }
};

Geometry measure(const QImage &image)
{
    Geometry g;
    int firstWhite = 0;
    while (firstWhite < image.width() && image.pixel(firstWhite, 0) == 0xff000000)
        ++firstWhite;
    g.scale = firstWhite / 7;
    for (int x = image.width() - 1; x >= 0; --x) {
        if (image.pixel(x, 0) == 0xff000000) {
            g.covered = x + 1;
            break;
        }
    }
    return g;
}

bool isWhite(const QImage &image, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (image.pixel(x, y) != 0xffffffff)
                return false;
    return true;
}

// Every module is a uniform s x s square of black or white.
bool modulesAreSquares(const QImage &image, const Geometry &g)
{
    for (int my = 0; my < g.modules(); ++my) {
        for (int mx = 0; mx < g.modules(); ++mx) {
            const QRgb first = image.pixel(mx * g.scale, my * g.scale);
            if (first != 0xff000000 && first != 0xffffffff)
                return false;
            for (int j = 0; j < g.scale; ++j)
                for (int i = 0; i < g.scale; ++i)
                    if (image.pixel(mx * g.scale + i, my * g.scale + j) != first)
                        return false;
        }
    }
    return true;
}

// The 7 x 7 finder pattern with its top-left module at pixel (x, y).
bool finderAt(const QImage &image, int x, int y, int s)
{
    for (int my = 0; my < 7; ++my) {
        for (int mx = 0; mx < 7; ++mx) {
            const bool ring = mx == 0 || my == 0 || mx == 6 || my == 6;
            const bool core = mx >= 2 && mx <= 4 && my >= 2 && my <= 4;
            const QRgb want = ring || core ? 0xff000000 : 0xffffffff;
            if (image.pixel(x + mx * s, y + my * s) != want)
                return false;
        }
    }
    return true;
}

QString chinese(int count)
{
    const QString cycle = QStringLiteral("二维码生成工具装置板卡检验");
    QString text;
    for (int i = 0; i < count; ++i)
        text += cycle.at(i % cycle.size());
    return text;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}


} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void geometry_data();
    void geometry();
    void capacityLimit();
    void failuresLeaveFileAlone();
    void writesPngWhateverTheSuffix();
    void refusesNul();
    void fileIsTheRenderedImage_data();
    void fileIsTheRenderedImage();
    void nothingLeftFromTheImageBefore();
    void fullDiskLeavesNothingHalfWritten();
    void replacesOnlyWhatMayBeWritten();

private:
    QTemporaryDir m_dir;
    Kestrova m_window;
};

void TestRenderer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!haveDecoders())
        QFAIL("zbarimg (zbar-tools) and ZXing C++ (python3-zxing-cpp) are needed to check the images");
}

void TestRenderer::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QStringLiteral("Hello, World 123");
    QTest::newRow("lower case stays lower") << QStringLiteral("abc");
    QTest::newRow("mixed case") << QStringLiteral("MiXeD cAsE 42");
    QTest::newRow("chinese") << QStringLiteral("二维码生成工具");
    QTest::newRow("ending in a line break") << QStringLiteral("继电器\n第二行\n");
    QTest::newRow("separators") << QStringLiteral("Relay panel; 2024-01-02; 2024-03-16; Zone 3");
    QTest::newRow("version 21, one pixel modules") << QString(900, QLatin1Char('k'));
    QTest::newRow("984 chinese characters") << chinese(984);
}

void TestRenderer::roundTrip()
{
    QFETCH(QString, text);
    const QString path = m_dir.filePath(QStringLiteral("round.png"));
    QVERIFY(m_window.generateQrCodeImage(text, path));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(200, 200));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    bool ok = false;
    const QByteArray decoded = decodeQrFile(path, &ok);
    QVERIFY(ok);
    QCOMPARE(QString::fromUtf8(decoded), text);
}

void TestRenderer::geometry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("modules");
    QTest::addColumn<int>("scale");
    QTest::newRow("version 1") << QStringLiteral("abc") << 21 << 9;
    QTest::newRow("version 2") << QStringLiteral("abcdefghijklmnopqrstu") << 25 << 8;
    QTest::newRow("version 21") << QString(900, QLatin1Char('k')) << 101 << 1;
}

void TestRenderer::geometry()
{
    QFETCH(QString, text);
    QFETCH(int, modules);
    QFETCH(int, scale);
    const QString path = m_dir.filePath(QStringLiteral("geometry.png"));
    QVERIFY(m_window.generateQrCodeImage(text, path));
    const QImage image(path);
    const Geometry g = measure(image);
    QCOMPARE(g.scale, scale);
    QCOMPARE(g.modules(), modules);
    const int covered = modules * scale;
    QCOMPARE(g.covered, covered);
    QVERIFY(modulesAreSquares(image, g));
    // No quiet zone: the finders touch the top and left edges and end at the covered edge.
    QVERIFY(finderAt(image, 0, 0, scale));
    QVERIFY(finderAt(image, covered - 7 * scale, 0, scale));
    QVERIFY(finderAt(image, 0, covered - 7 * scale, scale));
    // The strip right and bottom is white.
    QVERIFY(isWhite(image, covered, 0, 200, 200));
    QVERIFY(isWhite(image, 0, covered, 200, 200));
}

void TestRenderer::capacityLimit()
{
    const QString path = m_dir.filePath(QStringLiteral("limit.png"));
    QVERIFY(m_window.generateQrCodeImage(chinese(984), path));
    const QImage fits(path);
    QCOMPARE(measure(fits).modules(), 177);

    LogCapture log;
    QVERIFY(!m_window.generateQrCodeImage(chinese(985), path));
    QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to generate QR code.")});
    QCOMPARE(QImage(path), fits);

    // Digits pack tighter than bytes: the largest symbol holds 7,089 of them.
    // A text beyond any symbol is refused before the encoder, which would
    // take gigabytes for a few megabytes of text.
    QVERIFY(m_window.generateQrCodeImage(QString(7089, QLatin1Char('7')), path));
    QVERIFY(!m_window.generateQrCodeImage(QString(7090, QLatin1Char('7')), path));
}

void TestRenderer::failuresLeaveFileAlone()
{
    const QString path = m_dir.filePath(QStringLiteral("kept.png"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();

    {
        LogCapture log;
        QVERIFY(!m_window.generateQrCodeImage(QString(), path));
        QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to generate QR code.")});
    }
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old content"));
    old.close();

    LogCapture log;
    QVERIFY(!m_window.generateQrCodeImage(QStringLiteral("abc"), m_dir.filePath(QStringLiteral("missing/x.png"))));
    QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to save QR code image.")});
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("missing"))));
}

void TestRenderer::writesPngWhateverTheSuffix()
{
    const QString path = m_dir.filePath(QStringLiteral("picture.jpg"));
    QVERIFY(m_window.generateQrCodeImage(QStringLiteral("suffix"), path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QVERIFY(!QFile::exists(path + QStringLiteral(".png")));
}

// The encoder would end the code at a NUL; no code cut short is written.
void TestRenderer::refusesNul()
{
    const QString path = m_dir.filePath(QStringLiteral("zero.png"));
    for (const QString &text : {QStringLiteral("visible") + QChar(0) + QStringLiteral("hidden"),
                                QStringLiteral("Relay") + QString(3, QChar(0))}) {
        LogCapture log;
        QVERIFY(!m_window.generateQrCodeImage(text, path));
        QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to generate QR code.")});
        QCOMPARE(qr::writeImage(text, path).status, qr::ImageStatus::HasNul);
    }
    QVERIFY(!QFile::exists(path));
}

void TestRenderer::fileIsTheRenderedImage_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("version 1, scale 9") << QStringLiteral("abc");
    QTest::newRow("device record") << QStringLiteral("Relay panel 17; 2024-01-02; 2024-03-16; Zone 3");
    QTest::newRow("version 21, scale 1") << QString(900, QLatin1Char('k'));
    QTest::newRow("version 40") << chinese(984);
}

// The written file holds exactly what renderImage draws, saved as PNG.
void TestRenderer::fileIsTheRenderedImage()
{
    QFETCH(QString, text);
    const QImage rendered = qr::renderImage(text);
    QCOMPARE(rendered.size(), QSize(200, 200));
    QCOMPARE(rendered.format(), QImage::Format_RGB32);
    QByteArray expected;
    QBuffer buffer(&expected);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(rendered.save(&buffer, "PNG", -1));

    const QString path = m_dir.filePath(QStringLiteral("same.png"));
    QVERIFY(m_window.generateQrCodeImage(text, path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
    QCOMPARE(QImage(path), rendered);
}

// A small symbol after a dense one: every pixel is drawn afresh.
void TestRenderer::nothingLeftFromTheImageBefore()
{
    const QString path = m_dir.filePath(QStringLiteral("after.png"));
    QVERIFY(m_window.generateQrCodeImage(chinese(984), path));
    QVERIFY(m_window.generateQrCodeImage(QStringLiteral("abc"), path));
    const QImage image(path);
    const Geometry g = measure(image);
    QCOMPARE(g.covered, 189);
    QVERIFY(modulesAreSquares(image, g));
    QVERIFY(isWhite(image, 189, 0, 200, 200));
    QVERIFY(isWhite(image, 0, 189, 200, 200));
    QCOMPARE(image, qr::renderImage(QStringLiteral("abc")));
}

void TestRenderer::fullDiskLeavesNothingHalfWritten()
{
#ifndef Q_OS_UNIX
    QSKIP("needs RLIMIT_FSIZE");
#else
    const QString text = chinese(984);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(qr::renderImage(text).save(&buffer, "PNG", -1));
    constexpr int limit = 4096;
    QVERIFY(png.size() > 2 * limit);

    const QDir dir(m_dir.filePath(QStringLiteral("full")));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    const QString older = dir.filePath(QStringLiteral("older.png"));
    const QString fresh = dir.filePath(QStringLiteral("fresh.png"));
    writeFile(older, "older content");

    LogCapture log;
    qr::ImageResult replacing{};
    qr::ImageResult creating{};
    bool member = true;
    {
        FileSizeLimit full(limit);
        QVERIFY(full.active());
        replacing = qr::writeImage(text, older);
        creating = qr::writeImage(text, fresh);
        member = m_window.generateQrCodeImage(text, fresh);
    }
    QVERIFY(replacing.status == qr::ImageStatus::NotSaved);
    QVERIFY(creating.status == qr::ImageStatus::NotSaved);
    QVERIFY(!member);
    QCOMPARE(replacing.error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    const QString saveFailed = QStringLiteral("Failed to save QR code image.");
    QCOMPARE(log.debugLines(), (QStringList{saveFailed, saveFailed, saveFailed}));
    QCOMPARE(contents(older), QByteArray("older content"));
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), QStringList{"older.png"});

    // With room again the older file is replaced, whole.
    QVERIFY(m_window.generateQrCodeImage(text, older));
    QCOMPARE(contents(older), png);
#endif
}

// A replaced file keeps its permissions; a link is replaced by the image and
// the file it pointed to stays as it was; a file this user may not write is
// left as it is, though its folder is open.
void TestRenderer::replacesOnlyWhatMayBeWritten()
{
#ifndef Q_OS_UNIX
    QSKIP("needs file permissions and symbolic links");
#else
    const QDir dir(m_dir.filePath(QStringLiteral("replace")));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    makeWorldAccessible(m_dir.path());
    makeWorldAccessible(dir.path());
    const QFileDevice::Permissions modeBits(QFlag(0x7077));

    const QString own = dir.filePath(QStringLiteral("own.png"));
    writeFile(own, "own");
    QVERIFY(QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(m_window.generateQrCodeImage(QStringLiteral("own"), own));
    QCOMPARE(QFile::permissions(own) & modeBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    const QString link = dir.filePath(QStringLiteral("link.png"));
    QVERIFY(QFile::link(own, link));
    const QByteArray ownBytes = contents(own);
    QVERIFY(m_window.generateQrCodeImage(QStringLiteral("not through the link"), link));
    QVERIFY(!QFileInfo(link).isSymLink());
    bool ok = false;
    QCOMPARE(decodeQrFile(link, &ok), QByteArray("not through the link"));
    QCOMPARE(contents(own), ownBytes);

    const QString locked = dir.filePath(QStringLiteral("locked.png"));
    writeFile(locked, "locked");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    {
        Unprivileged nobody;
        QVERIFY(nobody.active());
        LogCapture log;
        QVERIFY(!m_window.generateQrCodeImage(QStringLiteral("abc"), locked));
        QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to save QR code image.")});
    }
    QCOMPARE(contents(locked), QByteArray("locked"));
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
             (QStringList{"link.png", "locked.png", "own.png"}));
#endif
}

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
