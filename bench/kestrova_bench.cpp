// One benchmark item per process, so that VmHWM is the peak of that item.
// Prints "key value" lines on stdout for bench/run to put into its table.
//
//   kestrova_bench preview
//   kestrova_bench generate <payloads.txt> <out>
//   kestrova_bench device   <warmup.xlsx> <device.xlsx> <payloads.txt> <out>
//   kestrova_bench pngonly  <payloads.txt> <out>
//   kestrova_bench load     <warmup.xlsx> <big.xlsx>
//   kestrova_bench loadxls  <warmup.xlsx> <big.xls>   (the same, keys loadxls_*)
//   kestrova_bench saveback <warmup.xlsx> <book.xlsx> <out.xlsx>
//                           (load, select every sheet in turn, save to out)
//   kestrova_bench peer     <out> <program> <args...>   (times one run of program)
//   kestrova_bench stages   <payloads.txt> <device.xlsx>
//                           (preview cycle and device step split into their steps)
//   kestrova_bench sheets   <book.xlsx> <out>
//                           (the batch's sheet step on each device and board
//                           sheet into an emptied out; out/records.json maps
//                           each image, as folder/file, to its record's payload)

#include "batch/sheetrecords.h"
#include "batch/sheetstep.h"
#include "qr/qrrenderer.h"
#include "ui/kestrova.h"

#include "xlsxdocument.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTextStream>

#include <qrencode.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident set of this process so far, in kB.
long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void out(const char *key, double value)
{
    std::printf("%s %.6g\n", key, value);
}

void out(const QByteArray &key, double value)
{
    out(key.constData(), value);
}

struct Payload
{
    QString key;
    QString text;
};

std::vector<Payload> readPayloads(const QString &path)
{
    std::vector<Payload> list;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return list;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString line;
    while (in.readLineInto(&line)) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0)
            list.push_back({line.left(tab), line.mid(tab + 1)});
    }
    return list;
}

// A fresh, empty folder: creating files and replacing them cost differently.
QString freshDir(const QString &path)
{
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

int pngCount(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*.png")}, QDir::Files).size();
}

QString text(int bytes)
{
    const QByteArray alphabet = "The quick brown fox jumps over the lazy dog 0123456789; ";
    QByteArray s;
    for (int i = 0; i < bytes; ++i)
        s += alphabet.at(i % alphabet.size());
    return QString::fromLatin1(s);
}

int previewCycle()
{
    Kestrova window;
    window.show();
    QApplication::processEvents();
    auto *edit = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    const struct
    {
        const char *name;
        int bytes;
    } cases[] = {{"10", 10}, {"300", 300}, {"2900", 2900}};
    for (const auto &c : cases) {
        {
            const QSignalBlocker blocker(edit);
            edit->setPlainText(text(c.bytes));
        }
        for (int i = 0; i < 20; ++i)
            window.createBtnClicked();
        std::vector<double> ms;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            window.createBtnClicked();
            ms.push_back(secondsSince(start) * 1e3);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("preview_%s_median %.4f\n", c.name, (ms[99] + ms[100]) / 2);
        std::printf("preview_%s_p99 %.4f\n", c.name, ms[197]);  // nearest rank: 198th of 200
        if (QImage(QStringLiteral("qrcode.png")).isNull())
            std::printf("preview_%s_error no-image\n", c.name);
    }
    return 0;
}

// One file per payload, named by its key, in an emptied dir/run.
std::vector<QString> runPaths(const QString &dir, const std::vector<Payload> &payloads)
{
    const QString run = freshDir(dir + QStringLiteral("/run"));
    std::vector<QString> paths;
    paths.reserve(payloads.size());
    for (const Payload &p : payloads)
        paths.push_back(run + QLatin1Char('/') + p.key + QStringLiteral(".png"));
    return paths;
}

int generate(const QString &payloadFile, const QString &dir)
{
    const std::vector<Payload> payloads = readPayloads(payloadFile);
    if (payloads.empty())
        return 1;
    Kestrova window;
    const QString warm = freshDir(dir + QStringLiteral("/warm"));
    for (size_t i = 0; i < 200; ++i)
        window.generateQrCodeImage(payloads[i].text, warm + QStringLiteral("/%1.png").arg(i));
    const std::vector<QString> paths = runPaths(dir, payloads);

    const auto start = Clock::now();
    int ok = 0;
    for (size_t i = 0; i < payloads.size(); ++i)
        ok += window.generateQrCodeImage(payloads[i].text, paths[i]);
    const double seconds = secondsSince(start);
    out("generate_images", ok);
    out("generate_seconds", seconds);
    out("generate_ips", ok / seconds);
    out("generate_peak_kb", peakRssKb());
    return ok == int(payloads.size()) ? 0 : 1;
}

int device(const QString &warmupBook, const QString &book, const QString &payloadFile, const QString &dir)
{
    Kestrova window;
    {
        QXlsx::Document warm(warmupBook);
        if (!warm.isLoaded() || !warm.selectSheet(QStringLiteral("device_list"))) {
            std::printf("device_error workbook-not-loaded\n");
            return 1;
        }
        window.createDeviceCodes(freshDir(dir + QStringLiteral("/warm")), warm);
    }
    const QString run = freshDir(dir + QStringLiteral("/run"));

    const auto start = Clock::now();
    QXlsx::Document xlsx(book);
    xlsx.selectSheet(QStringLiteral("device_list"));
    window.createDeviceCodes(run, xlsx);
    const double seconds = secondsSince(start);
    const long peak = peakRssKb();

    const QString folder = run + QString::fromUtf8(SheetLayout::device.folder);
    const int written = pngCount(folder);
    out("device_images", written);
    out("device_seconds", seconds);
    out("device_ips", written / seconds);
    out("device_peak_kb", peak);

    // The records must be the payloads the other items write.
    const std::vector<Payload> payloads = readPayloads(payloadFile);
    const CodeMap codes = readSheetRecords(xlsx, SheetLayout::device);
    int same = 0;
    for (const Payload &p : payloads)
        same += codes.value(p.key) == p.text;
    out("device_records_matching", same);
    return same == int(payloads.size()) && written == same ? 0 : 1;
}

int pngOnly(const QString &payloadFile, const QString &dir)
{
    const std::vector<Payload> payloads = readPayloads(payloadFile);
    if (payloads.empty())
        return 1;
    std::vector<QImage> images;
    images.reserve(payloads.size());
    for (const Payload &p : payloads)
        images.push_back(qr::renderImage(p.text));
    const QString warm = freshDir(dir + QStringLiteral("/warm"));
    for (size_t i = 0; i < 200; ++i)
        images[i].save(warm + QStringLiteral("/%1.png").arg(i), "PNG", -1);
    const std::vector<QString> paths = runPaths(dir, payloads);

    const auto start = Clock::now();
    int ok = 0;
    for (size_t i = 0; i < images.size(); ++i)
        ok += images[i].save(paths[i], "PNG", -1);
    const double seconds = secondsSince(start);
    out("pngonly_images", ok);
    out("pngonly_seconds", seconds);
    out("pngonly_ips", ok / seconds);
    return ok == int(images.size()) ? 0 : 1;
}

int load(const QString &warmupBook, const QString &book, const char *item)
{
    const auto key = [item](const char *what) { return QByteArray(item) + '_' + what; };
    {
        QXlsx::Document warm(warmupBook);
        warm.selectSheet(QStringLiteral("device_list"));
        warm.dimension();
    }
    {
        QFile file(book);  // into the page cache
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    }
    out(key("base_kb"), peakRssKb());
    const auto start = Clock::now();
    QXlsx::Document xlsx(book);
    const bool selected = xlsx.selectSheet(QStringLiteral("board_list"));
    const QXlsx::CellRange range = xlsx.dimension();
    const double seconds = secondsSince(start);
    out(key("seconds"), seconds);
    out(key("peak_kb"), peakRssKb());
    out(key("rows"), range.isValid() ? range.rowCount() : 0);
    out(key("columns"), range.isValid() ? range.columnCount() : 0);
    if (!xlsx.isLoaded() || !selected || !range.isValid()) {
        std::printf("%s workbook-not-loaded\n", key("error").constData());
        return 1;
    }
    return 0;
}

// A batch run's workbook steps without the sheets' own work: open, select
// every sheet in turn, save (to out, so that the source stays as it was).
// The saved file must open on the last sheet.
int saveBack(const QString &warmupBook, const QString &book, const QString &target)
{
    const auto selectAll = [](QXlsx::Document &xlsx) {
        for (const QString &name : xlsx.sheetNames())
            xlsx.selectSheet(name);
    };
    {
        QXlsx::Document warm(warmupBook);
        selectAll(warm);
        warm.saveAs(target);
    }
    {
        QFile file(book); // into the page cache
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    }
    QFile::remove(target);
    auto start = Clock::now();
    QXlsx::Document xlsx(book);
    selectAll(xlsx);
    const double load = secondsSince(start);
    start = Clock::now();
    const bool saved = xlsx.saveAs(target);
    const double save = secondsSince(start);
    out("saveback_load_seconds", load);
    out("saveback_save_seconds", save);
    out("saveback_peak_kb", peakRssKb());
    const QXlsx::Document again(target);
    const QXlsx::CellRange range = again.dimension();
    const QXlsx::CellRange expected = xlsx.dimension();
    if (!saved || !again.isLoaded() || range.rowCount() != expected.rowCount()) {
        std::printf("saveback_error saved-file-not-as-expected\n");
        return 1;
    }
    out("saveback_rows", range.rowCount());
    return 0;
}

// The preview cycle of the 2,900-byte text, step by step (median of 200, ms).
int stages()
{
    const QByteArray utf8 = text(2900).toUtf8();
    const int runs = 200;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::vector<double> enc, draw, save, read, pixmap;
    for (int i = 0; i < runs + 20; ++i) {
        auto t0 = Clock::now();
        QRcode *code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
        QRcode_free(code);
        auto t1 = Clock::now();
        const QImage image = qr::renderImage(QString::fromUtf8(utf8));
        auto t2 = Clock::now();
        image.save(QStringLiteral("qrcode.png"), "PNG", -1);
        auto t3 = Clock::now();
        QImageReader reader(QStringLiteral("qrcode.png"));
        reader.setDecideFormatFromContent(true);
        const QImage back = reader.read();
        auto t4 = Clock::now();
        const QPixmap pm = QPixmap::fromImage(back);
        auto t5 = Clock::now();
        if (i < 20)
            continue;
        using ms = std::chrono::duration<double, std::milli>;
        enc.push_back(ms(t1 - t0).count());
        draw.push_back(ms(t2 - t1).count() - enc.back());
        save.push_back(ms(t3 - t2).count());
        read.push_back(ms(t4 - t3).count());
        pixmap.push_back(ms(t5 - t4).count());
    }
    out("stage_encode_ms", median(enc));
    out("stage_draw_ms", median(draw));
    out("stage_save_ms", median(save));
    out("stage_read_ms", median(read));
    out("stage_pixmap_ms", median(pixmap));
    return 0;
}

// Per-image cost of each step of the device step, in microseconds.
int batchStages(const QString &payloadFile, const QString &book)
{
    const std::vector<Payload> payloads = readPayloads(payloadFile);
    if (payloads.empty())
        return 1;
    const double n = payloads.size();
    std::vector<QByteArray> utf8;
    for (const Payload &p : payloads)
        utf8.push_back(p.text.toUtf8());
    for (int pass = 0; pass < 2; ++pass) {  // the first pass warms up
        auto start = Clock::now();
        for (const QByteArray &u : utf8)
            QRcode_free(QRcode_encodeString(u.constData(), 0, QR_ECLEVEL_L, QR_MODE_8, 1));
        const double encode = secondsSince(start);
        start = Clock::now();
        qint64 sink = 0;
        for (const Payload &p : payloads)
            sink += qr::renderImage(p.text).constBits()[0];
        const double render = secondsSince(start);
        start = Clock::now();
        QXlsx::Document xlsx(book);
        xlsx.selectSheet(QStringLiteral("device_list"));
        const double open = secondsSince(start);
        start = Clock::now();
        const CodeMap codes = readSheetRecords(xlsx, SheetLayout::device);
        const double records = secondsSince(start);
        if (pass == 0)
            continue;
        out("batch_encode_us", encode / n * 1e6);
        out("batch_render_us", render / n * 1e6);
        out("batch_open_us", open / n * 1e6);
        out("batch_records_us", records / n * 1e6);
        out("batch_sink", double(sink + codes.size()));
    }
    return 0;
}

// The images a batch run writes for the device and board sheets of book, as
// it picks them by name, and the payloads they should hold.
int sheets(const QString &book, const QString &dir)
{
    QXlsx::Document xlsx(book);
    if (!xlsx.isLoaded()) {
        std::printf("sheets_error workbook-not-loaded\n");
        return 1;
    }
    const QString run = freshDir(dir);
    QJsonObject records;
    int written = 0;
    for (const QString &sheet : xlsx.sheetNames()) {
        const SheetLayout *layout = sheet.contains(QLatin1String("device")) ? &SheetLayout::device
                                    : sheet.contains(QLatin1String("board")) ? &SheetLayout::board
                                                                              : nullptr;
        if (!layout || !xlsx.selectSheet(sheet))
            continue;
        const QString folder = QString::fromUtf8(layout->folder).mid(1);
        const int before = pngCount(run + QLatin1Char('/') + folder);
        writeSheetCodes(run, xlsx, *layout);
        written += pngCount(run + QLatin1Char('/') + folder) - before;
        const CodeMap codes = readSheetRecords(xlsx, *layout);
        for (auto it = codes.cbegin(); it != codes.cend(); ++it)
            records.insert(folder + QLatin1Char('/') + it.key() + QStringLiteral(".png"), it.value());
    }
    QFile file(run + QStringLiteral("/records.json"));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(records).toJson()) < 0 || !file.flush()) {
        std::printf("sheets_error records-not-written\n");
        return 1;
    }
    out("sheets_records", records.size());
    out("sheets_images", written);
    return written == records.size() ? 0 : 1;
}

// Runs argv (stdout to /dev/null); prints its wall time, the PNG files it
// left in dir and its peak resident set.
int peer(const char *dir, char **argv)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return 1;
    const double seconds = secondsSince(start);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const int written = pngCount(QString::fromLocal8Bit(dir));
    out("peer_images", written);
    out("peer_seconds", seconds);
    out("peer_ips", written / seconds);
    out("peer_peak_kb", usage.ru_maxrss);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "peer" && argc >= 4)
        return peer(argv[2], argv + 3);
    if ((mode == "load" || mode == "loadxls") && argc == 4)
        return load(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), argv[1]);
    if (mode == "saveback" && argc == 5)
        return saveBack(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));

    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (mode == "preview")
        return previewCycle();
    if (mode == "stages" && args.size() == 4)
        return stages() || batchStages(args[2], args[3]);
    if (mode == "generate" && args.size() == 4)
        return generate(args[2], args[3]);
    if (mode == "device" && args.size() == 6)
        return device(args[2], args[3], args[4], args[5]);
    if (mode == "sheets" && args.size() == 4)
        return sheets(args[2], args[3]);
    if (mode == "pngonly" && args.size() == 4)
        return pngOnly(args[2], args[3]);
    std::fprintf(stderr, "usage: see the head of bench/kestrova_bench.cpp\n");
    return 2;
}
