#!/usr/bin/python3
"""Reads the one QR code of an 8-bit binary PGM with ZXing C++ (zxingcpp),
the second reader beside zbarimg.

    /usr/bin/python3 tests/support/zxingdecode.py IMAGE.pgm   the code's bytes on stdout
    /usr/bin/python3 tests/support/zxingdecode.py --check     whether zxingcpp loads

Exits 1 when the image holds no code it can read, 2 on any other failure."""
import re
import sys
from pathlib import Path

try:
    import numpy
    import zxingcpp
except ImportError as missing:
    print(f"ZXing C++ for Python is missing (python3-zxing-cpp): {missing}", file=sys.stderr)
    sys.exit(2)

PGM_HEADER = re.compile(rb"P5\s+(\d+)\s+(\d+)\s+255\s")


def read_pgm(path):
    data = Path(path).read_bytes()
    header = PGM_HEADER.match(data)
    if not header:
        raise ValueError(f"{path} is not an 8-bit binary PGM")
    width, height = int(header.group(1)), int(header.group(2))
    return numpy.frombuffer(data, numpy.uint8, width * height, header.end()).reshape(height, width)


def read_qr(path):
    """The zxingcpp result of the QR code in the PGM at path, or None."""
    found = zxingcpp.read_barcode(read_pgm(path), formats=zxingcpp.BarcodeFormat.QRCode)
    return found if found is not None and found.valid else None


def main():
    if sys.argv[1:] == ["--check"]:
        return 0
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        found = read_qr(sys.argv[1])
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 2
    if found is None:
        return 1
    sys.stdout.buffer.write(found.bytes)
    return 0


if __name__ == "__main__":
    sys.exit(main())
