#!/usr/bin/python3
"""Which decoders read the batch's codes of Chinese text as it was written.

    /usr/bin/python3 bench/scanners.py [--batch PROGRAM] [--work DIR]

Writes a workbook with device and board sheets of Chinese keys and payloads
(device names, board names joined to their type by "_", Chinese mixed with
digits and Latin), runs the batch on it (kestrova-batch --no-save --list),
gives each image a white quiet zone (ImageMagick) and decodes it with zbarimg,
with and without -Sbinary, and with ZXing C++ (zxingcpp). A read is exact when
the decoded text is the payload. Prints one table. Without --batch, builds
kestrova-batch in bench/build-release first; --work defaults to
bench/build-release/scanners.
Needs zbar-tools, imagemagick, python3-openpyxl and python3-zxing-cpp.
"""
import argparse
import datetime
import random
import shutil
import subprocess
import sys
from pathlib import Path

import openpyxl

SOURCE = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tests/support"))
from zxingdecode import read_qr  # noqa: E402
DEVICE_FOLDER = "装置检验二维码"
BOARD_FOLDER = "板卡检验二维码"

STATIONS = ["城东变", "河西站", "新区220kV站", "江北换流站", "Substation B", "开发区110kV变电站"]
DEVICES = ["1号主变压器保护装置", "2号主变差动保护", "220kV母线保护", "110kV线路保护测控装置", "10kV开关柜综合保护",
           "备自投装置", "故障录波器", "电能质量监测装置", "智能终端", "合并单元", "站用变保护", "电容器保护",
           "低周减载装置", "同步时钟装置", "远动通信管理机", "直流绝缘监测仪", "继电器", "电能表", "断路器"]
MODELS = ["", "", " PCS-931", " NSR-3611", " CSC-103A", " RCS-978", " PRS-7789", " 型号ISA-381G"]
ZONES = ["一号继电器室", "二次设备室", "110kV GIS室", "35kV开关室", "主控楼2层", "户外场地B区", "Zone 3"]
SHORT = ["继电器", "合格", "电表", "主变", "不合格", "待复检", "开关柜", "备用", "母线", "电源", "插件", "测控"]
BOARDS = ["CPU插件", "电源插件", "开入插件", "开出插件", "交流插件", "通信插件", "管理板", "光纤接口板",
          "NR1102 CPU板", "PSL-603U 主板", "DSP板", "人机接口板"]
TYPES = ["A型", "B型", "主", "备", "V2", "NR1136A", "光口", "双口"]
RESULTS = ["合格", "不合格", "待复检", "OK", "合格（复检）"]
BASE = datetime.date(1899, 12, 30)


def date_text(serial):
    return (BASE + datetime.timedelta(days=int(serial))).isoformat()


def sheets(rng):
    """(sheet name, header, rows, payload of a row) for each sheet."""
    devices = []
    for i in range(1, 101):
        station = rng.choice(STATIONS)
        name = rng.choice(DEVICES) + rng.choice(MODELS)
        installed = 43800 + rng.randrange(1500)
        checked = installed + 30 + rng.randrange(400) + 0.5
        devices.append(["%s-%03d" % (station, i), name, installed, checked, rng.choice(ZONES)])
    names = []
    for i in range(1, 101):
        name = rng.choice(SHORT) if i % 2 else rng.choice(SHORT) + rng.choice(SHORT)
        names.append(["%s设备%03d" % (rng.choice(["", "主控室", "B区"]), i), name])
    boards = []
    for i in range(1, 101):
        made = 44000 + rng.randrange(1200)
        boards.append([i, "%s%02d" % (rng.choice(BOARDS), i), rng.choice(TYPES), "V%d.%02d" % (rng.randrange(1, 4), i),
                       rng.choice(["SN%08d" % rng.randrange(10 ** 8), "出厂编号%d-%03d" % (2020 + i % 5, i)]),
                       made, made + 20 + rng.randrange(60), rng.choice(RESULTS)])
    return [
        ("device_list", ["Key", "Name", "Installed", "Checked", "Zone"], devices,
         lambda r: (DEVICE_FOLDER, r[0], "; ".join([r[1], date_text(r[2]), date_text(r[3]), r[4]]))),
        ("device_names", ["Key", "Name"], names, lambda r: (DEVICE_FOLDER, r[0], r[1])),
        ("board_list", ["No", "Board", "Type", "Version", "Serial", "Made", "Tested", "Result"], boards,
         lambda r: (BOARD_FOLDER, "%s_%s" % (r[1], r[2]),
                    "; ".join([r[2], r[3], r[4], date_text(r[5]), date_text(r[6]), r[7]]))),
    ]


def write_book(path):
    """Writes the workbook; returns {folder/file: (sheet, payload)}, the payload as the batch builds it."""
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    expected = {}
    for title, header, rows, payload in sheets(random.Random(2024)):
        ws = wb.create_sheet(title)
        ws.append(header)
        for row in rows:
            ws.append(row)
            folder, key, text = payload(row)
            expected["%s/%s.png" % (folder, key)] = (title, text)
    wb.save(path)
    return expected


def build():
    build_dir = SOURCE / "bench/build-release"
    subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build_dir), "-DKESTROVA_BENCH=ON", "-DKESTROVA_TESTS=OFF",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "kestrova-batch"], check=True,
                   stdout=subprocess.DEVNULL)
    return build_dir / "kestrova-batch"


def zbar(path, binary):
    args = ["zbarimg", "--quiet", "--raw", "-Sdisable", "-Sqrcode.enable"] + (["-Sbinary"] if binary else [])
    done = subprocess.run(args + [str(path)], capture_output=True)
    if done.returncode != 0 or not done.stdout:
        return None
    # The text ends in a line break of zbarimg's own; -Sbinary gives the bytes alone.
    out = done.stdout if binary else done.stdout[:-1]
    return out.decode("utf-8", errors="replace")


def zxing(path, raw):
    found = read_qr(path)
    if found is None:
        return None
    return found.bytes.decode("utf-8", errors="replace") if raw else found.text


def version(*command):
    done = subprocess.run(list(command), capture_output=True, text=True)
    return (done.stdout or done.stderr).strip().splitlines()[0] if done.returncode == 0 else "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--batch", type=Path)
    parser.add_argument("--work", type=Path, default=SOURCE / "bench/build-release/scanners")
    args = parser.parse_args()
    batch = args.batch or build()
    images = args.work.resolve() / "images"
    shutil.rmtree(images, ignore_errors=True)
    images.mkdir(parents=True)
    work = images.parent

    expected = write_book(images / "scanners.xlsx")
    done = subprocess.run([str(batch), "--no-save", "--list", str(images / "scanners.xlsx")], capture_output=True)
    (work / "batch.log").write_bytes(done.stderr)
    if done.returncode != 0:
        sys.exit("kestrova-batch failed with %d (see %s)" % (done.returncode, work / "batch.log"))
    # sheet, row, key, file: every record has its image, under the name expected.
    written = {str(Path(line.split("\t")[3]).relative_to(images)): line.split("\t")[0]
               for line in done.stdout.decode("utf-8").splitlines()}
    if written != {name: sheet for name, (sheet, _) in expected.items()}:
        sys.exit("the batch wrote other images than this script expects")

    # The quiet zone the images leave out, as PNG for zbarimg and PGM for zxingcpp.
    padded = work / "padded"
    shutil.rmtree(padded, ignore_errors=True)
    for folder in (DEVICE_FOLDER, BOARD_FOLDER):
        (padded / folder).mkdir(parents=True, exist_ok=True)
        for kind in ("png", "pgm"):
            subprocess.run(["mogrify", "-path", str(padded / folder), "-bordercolor", "white", "-border", "20",
                            "-format", kind] + sorted(str(p) for p in (images / folder).glob("*.png")), check=True)

    readers = [
        ("zbarimg", "its own guess", lambda p: zbar(p.with_suffix(".png"), False)),
        ("zbarimg -Sbinary", "bytes, taken as UTF-8", lambda p: zbar(p.with_suffix(".png"), True)),
        ("ZXing C++ (zxingcpp)", "its own guess", lambda p: zxing(p.with_suffix(".pgm"), False)),
        ("ZXing C++ (zxingcpp)", "bytes, taken as UTF-8", lambda p: zxing(p.with_suffix(".pgm"), True)),
    ]
    titles = [title for title, _, _, _ in sheets(random.Random(0))]
    total = len(expected)
    print()
    print("%d images (%s), zbar %s, ZXing C++ %s" % (
        total, ", ".join("%s %d" % (t, sum(1 for s, _ in expected.values() if s == t)) for t in titles),
        version("zbarimg", "--version"), version("dpkg-query", "-W", "-f", "${Version}", "python3-zxing-cpp")))
    print()
    print("| Decoder | Text taken as | Exact reads | %s | Other text | No code |" % " | ".join(titles))
    print("|---|---|---|%s---|---|" % ("---|" * len(titles)))
    examples = []
    for name, how, read in readers:
        exact = {t: 0 for t in titles}
        wrong = missing = 0
        for image, (sheet, text) in sorted(expected.items()):
            got = read(padded / image)
            if got == text:
                exact[sheet] += 1
            elif got is None:
                missing += 1
            else:
                wrong += 1
                if len(examples) < 3 and len(text) < 12:
                    examples.append((name, text, got))
        print("| %s | %s | %d / %d | %s | %d | %d |" % (name, how, sum(exact.values()), total,
                                                       " | ".join(str(exact[t]) for t in titles), wrong, missing))
    if examples:
        print()
        print("Examples of other text:")
        for name, text, got in examples:
            print("  %s: %s read as %s" % (name, text, got))


if __name__ == "__main__":
    main()
