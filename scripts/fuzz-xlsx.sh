#!/usr/bin/env bash
# Fuzzes the workbook readers (.xlsx, .xls and its compound file, CSV): builds
# tests/xlsx/fuzz_xlsx.cpp with clang, libFuzzer and the address and
# undefined-behaviour sanitizers in its own build folder, then runs it for a while.
#   scripts/fuzz-xlsx.sh [seconds]      (default 60)
# Seeds are the test workbooks, their XML parts, the test .xls files (as
# workbooks, as compound files and, with python3-xlrd, their workbook
# streams), the .xls fuzz findings kept as tests and the CSV files; the
# corpus grows in ${FUZZ_BUILD_DIR:-build-fuzz}/xlsx-corpus and anything
# found lands in .../xlsx-artifacts (rerun one with:
# <build>/tests/xlsx/xlsx_fuzz <file>).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${FUZZ_BUILD_DIR:-build-fuzz}
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=undefined"

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTROVA_TESTS=ON -DKESTROVA_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" >/dev/null
cmake --build "$dir" --target xlsx_fuzz --parallel "$(nproc)"

seeds=$dir/xlsx-seeds
corpus=$dir/xlsx-corpus
artifacts=$dir/xlsx-artifacts
mkdir -p "$seeds" "$corpus" "$artifacts"
shopt -s nullglob
# The first byte of an input says what the rest is (see fuzz_xlsx.cpp).
/usr/bin/python3 - "$seeds" tests/xlsx/fixtures/*.xlsx tests/xlsx/fixtures/*.xls tests/xlsx/fixtures/fuzz/*.xls tests/xlsx/fixtures/fuzz/*.xlsx \
    tests/batch/fixtures/*.csv <<'PY'
import os, sys, zipfile
out = sys.argv[1]
for path in sys.argv[2:]:
    base = os.path.basename(path)
    with open(path, "rb") as f:
        data = f.read()
    if base.endswith(".csv"):
        open(os.path.join(out, base), "wb").write(b"\x05" + data)
        continue
    if base.endswith(".xls") or data.startswith(b"\xd0\xcf\x11\xe0"):
        open(os.path.join(out, base), "wb").write(b"\x06" + data)
        open(os.path.join(out, base + ".cfb"), "wb").write(b"\x07" + data)
        try:  # its workbook stream alone, where xlrd can take it out
            from xlrd import compdoc
            doc = compdoc.CompDoc(data, logfile=open(os.devnull, "w"))
            stream = doc.get_named_stream("Workbook") or doc.get_named_stream("Book")
            if stream:
                open(os.path.join(out, base + ".biff"), "wb").write(b"\x08" + stream)
        except Exception:
            pass
        continue
    open(os.path.join(out, base + ".zip"), "wb").write(b"\x00" + data)
    if not zipfile.is_zipfile(path):
        continue  # an encrypted workbook
    with zipfile.ZipFile(path) as z:
        for name in z.namelist():
            part = z.read(name)
            mode = None
            if name.startswith("xl/worksheets/") and name.endswith(".xml"):
                mode = 1
            elif name == "xl/sharedStrings.xml":
                mode = 2
            elif name == "xl/workbook.xml":
                mode = 3
            if mode is None:
                continue
            tag = base + "-" + name.replace("/", "_")
            open(os.path.join(out, tag), "wb").write(bytes([mode]) + part)
            if mode == 3:
                open(os.path.join(out, tag + ".edit"), "wb").write(b"\x04" + part)
PY

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
"$dir/tests/xlsx/xlsx_fuzz" "$corpus" "$seeds" \
    -dict=tests/xlsx/fuzz_xlsx.dict \
    -max_total_time="$seconds" -max_len=262144 -timeout=30 -rss_limit_mb=3072 \
    -fork=1 -ignore_crashes=1 -artifact_prefix="$artifacts/" -print_final_stats=1 || status=$?
found=$(find "$artifacts" -type f | wc -l)
echo "fuzz-xlsx: $found input(s) in $artifacts"
exit "${status:-0}"
