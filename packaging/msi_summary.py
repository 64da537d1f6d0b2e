#!/usr/bin/env python3
"""Sets an MSI's summary information to fixed values, in place: the times to
a given moment and the package code (revision number) to a given GUID.

wixl stamps both with the moment of the build, and msibuild can set the
package code but not the times. The summary information is a property set
stream inside the compound file; its values are patched where they lie, so
nothing else in the file moves.

Usage: msi_summary.py MSI EPOCH GUID
"""
import struct
import sys

SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 11, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
FREE_OR_END = 0xFFFFFFFA  # sector numbers at or above this end a chain


class CompoundFile:
    """Just enough of the compound file format to find one stream's bytes."""

    def __init__(self, data):
        self.data = data
        self.sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
        n_fat, first_dir = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, first_minifat, _, first_difat = struct.unpack_from("<IIII", data, 0x38)
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        difat = first_difat
        while difat < FREE_OR_END:
            per = self.sector // 4 - 1
            fat_sectors += struct.unpack_from("<%dI" % per, data, self.offset(difat))
            difat = struct.unpack_from("<I", data, self.offset(difat) + per * 4)[0]
        self.fat = []
        for s in fat_sectors[:n_fat]:
            self.fat += struct.unpack_from("<%dI" % (self.sector // 4), data, self.offset(s))
        self.minifat = []
        for s in self.chain(first_minifat):
            self.minifat += struct.unpack_from("<%dI" % (self.sector // 4), data, self.offset(s))
        self.entries = []
        for s in self.chain(first_dir):
            for i in range(self.sector // 128):
                self.entries.append(self.offset(s) + i * 128)
        self.ministream = [self.offset(s) for s in self.chain(self.start(self.entries[0]))]

    def offset(self, sector):
        return (sector + 1) * self.sector

    def chain(self, first, table=None):
        table = self.fat if table is None else table
        while first < FREE_OR_END:
            yield first
            first = table[first]

    def start(self, entry):
        return struct.unpack_from("<I", self.data, entry + 0x74)[0]

    def stream_offsets(self, name):
        """The file offset of every byte of the named stream, in order."""
        for e in self.entries:
            length = struct.unpack_from("<H", self.data, e + 0x40)[0]
            if length < 2 or self.data[e:e + length - 2].decode("utf-16-le") != name:
                continue
            size = struct.unpack_from("<I", self.data, e + 0x78)[0]
            if size < self.cutoff:
                per = self.sector // self.mini
                starts = [self.ministream[m // per] + (m % per) * self.mini
                          for m in self.chain(self.start(e), self.minifat)]
                unit = self.mini
            else:
                starts = [self.offset(s) for s in self.chain(self.start(e))]
                unit = self.sector
            return [s + i for s in starts for i in range(unit)][:size]
        raise SystemExit("no stream %r in the file" % name)


def main():
    path, epoch, guid = sys.argv[1], int(sys.argv[2]), sys.argv[3].upper()
    with open(path, "rb") as f:
        data = bytearray(f.read())
    where = CompoundFile(data).stream_offsets(SUMMARY)
    stream = bytearray(data[i] for i in where)

    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    filetime = (epoch + 11644473600) * 10**7
    done = set()
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at += section
        vt = struct.unpack_from("<I", stream, at)[0]
        if vt == VT_FILETIME and pid in (PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM):
            struct.pack_into("<Q", stream, at + 4, filetime)
            done.add(pid)
        elif vt == VT_LPSTR and pid == PID_REVNUMBER:
            value = ("{%s}" % guid.strip("{}")).encode("ascii") + b"\0"
            if struct.unpack_from("<I", stream, at + 4)[0] != len(value):
                raise SystemExit("the package code has an unexpected length")
            stream[at + 8:at + 8 + len(value)] = value
            done.add(pid)
    if not {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM} <= done:
        raise SystemExit("the summary information lacks a package code or a time")

    for i, b in zip(where, stream):
        data[i] = b
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
