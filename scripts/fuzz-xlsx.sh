#!/usr/bin/env bash
# Fuzzes the workbook readers (.xlsx, .xls, CSV): builds tests/xlsx/fuzz_xlsx.cpp
# with clang, libFuzzer and the address and undefined-behaviour sanitizers in
# its own build folder, then runs it for a while. FreeXL itself is the system
# library, not instrumented: inside it only crashes, hangs and memory use show.
#   scripts/fuzz-xlsx.sh [seconds]      (default 60)
# Seeds are the test workbooks, their XML parts and the test .xls and CSV
# files; the corpus grows in ${FUZZ_BUILD_DIR:-build-fuzz}/xlsx-corpus and
# anything found lands in .../xlsx-artifacts (rerun one with:
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
# The first byte of an input says what the rest is (see fuzz_xlsx.cpp).
/usr/bin/python3 - "$seeds" tests/xlsx/fixtures/*.xlsx tests/xlsx/fixtures/*.xls tests/batch/fixtures/*.csv <<'PY'
import os, sys, zipfile
out = sys.argv[1]
for path in sys.argv[2:]:
    base = os.path.basename(path)
    if base == "damaged.xls":
        continue  # crashes FreeXL itself, in-process here; the program reads it apart
    with open(path, "rb") as f:
        data = f.read()
    if base.endswith(".csv") or base.endswith(".xls"):
        open(os.path.join(out, base), "wb").write(bytes([5 if base.endswith(".csv") else 6]) + data)
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

# FreeXL 1.0.6 reads past a stack buffer of its own when it converts some
# crafted strings (iconv), leaks a little on some damaged files and asks for
# 4 GB at once on others (letting go without touching it): reports from
# inside FreeXL are left out and the malloc limit is above the RSS limit, so
# the run goes on (FREEXL_SUPPRESS=0 keeps the reports). It also crashes on
# some damaged files, which is why the program reads .xls in a process of its
# own: the fuzzer runs in fork mode, goes on after a crash and keeps each one
# in the artifacts folder; rerun one to see whether it is FreeXL's.
asan_suppressions=$dir/asan-suppressions.txt
lsan_suppressions=$dir/lsan-suppressions.txt
: >"$asan_suppressions"
: >"$lsan_suppressions"
if [[ ${FREEXL_SUPPRESS:-1} == 1 ]]; then
    echo "interceptor_via_lib:libfreexl.so.1" >"$asan_suppressions"
    echo "leak:libfreexl.so.1" >"$lsan_suppressions"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}:suppressions=$asan_suppressions
export LSAN_OPTIONS=${LSAN_OPTIONS:-}${LSAN_OPTIONS:+:}suppressions=$lsan_suppressions
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
"$dir/tests/xlsx/xlsx_fuzz" "$corpus" "$seeds" \
    -dict=tests/xlsx/fuzz_xlsx.dict \
    -max_total_time="$seconds" -max_len=262144 -timeout=30 -rss_limit_mb=3072 -malloc_limit_mb=5120 \
    -fork=1 -ignore_crashes=1 -artifact_prefix="$artifacts/" -print_final_stats=1 || status=$?
found=$(find "$artifacts" -type f | wc -l)
echo "fuzz-xlsx: $found input(s) in $artifacts"
exit "${status:-0}"
