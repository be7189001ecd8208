#!/usr/bin/python3
"""Prints, as JSON, the header fields of every entry of a zip as Python's
zipfile reads them, for the tests to compare a package before and after saving:
    {"comment": hex, "entries": [{...}, ...]}   (central-directory order)
Each entry has its central-directory fields (where the entry lies is left out:
that may change), "local" (its whole local header, hex) and "descriptor" (the
data descriptor after its data, hex; "none" when the data is followed directly
by the next header; "stray ..." otherwise)."""

import json
import struct
import sys
import zipfile


def descriptor(data, at, info):
    if info.flag_bits & 0x08:
        start = at + 4 if data[at:at + 4] == b"PK\x07\x08" else at
        for wide in (False, True):
            size = 20 if wide else 12
            fields = data[start:start + size]
            if len(fields) == size:
                crc, c, u = struct.unpack("<IQQ" if wide else "<III", fields)
                if (crc, c, u) == (info.CRC, info.compress_size, info.file_size):
                    return data[at:start + size].hex()
        return "stray " + data[at:at + 24].hex()
    following = data[at:at + 4]
    return "none" if following in (b"PK\x03\x04", b"PK\x01\x02", b"PK\x06\x06", b"PK\x05\x06") else "stray " + following.hex()


def main(path):
    data = open(path, "rb").read()
    with zipfile.ZipFile(path) as z:
        entries = []
        for info in z.infolist():
            at = info.header_offset
            name_length, extra_length = struct.unpack("<HH", data[at + 26:at + 30])
            local_end = at + 30 + name_length + extra_length
            # An offset the zip64 block holds is masked like the offset itself.
            extra = info.extra.hex()
            if info.header_offset >= 0 and len(info.extra) >= 8:
                extra = extra.replace(struct.pack("<Q", info.header_offset).hex(), "offset")
            entries.append({
                "name": info.filename,
                "flags": info.flag_bits,
                "create_version": info.create_version,
                "create_system": info.create_system,
                "extract_version": info.extract_version,
                "method": info.compress_type,
                "date_time": list(info.date_time),
                "crc": info.CRC,
                "compress_size": info.compress_size,
                "file_size": info.file_size,
                "internal_attr": info.internal_attr,
                "external_attr": info.external_attr,
                "volume": info.volume,
                "comment": info.comment.hex(),
                "extra": extra,
                "local": data[at:local_end].hex(),
                "descriptor": descriptor(data, local_end + info.compress_size, info),
            })
        print(json.dumps({"comment": z.comment.hex(), "entries": entries}, ensure_ascii=False))


if __name__ == "__main__":
    main(sys.argv[1])
