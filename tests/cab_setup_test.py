"""The installation data of the CE cabinets: cmake/write-cab-setup writes it,
scripts/read-cab-setup reads it. A .000 laid out here by hand, field by
field as the format's description gives them, is what the writer must write
and what the reader must print exactly."""
import importlib.machinery
import importlib.util
import os
import struct
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def load(name, path):
    loader = importlib.machinery.SourceFileLoader(name, os.path.join(SOURCE, path))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


writer = load("write_cab_setup", "cmake/write-cab-setup")
reader = load("read_cab_setup", "scripts/read-cab-setup")


def by_hand(provider=b"Me"):
    """App "App", provider, CE 5.0 to 7.99, a.exe and b.mui into %CE2%, a shortcut "Go" to a.exe."""
    names = b"App\0" + provider + b"\0"
    strings = struct.pack("<HH", 1, 6) + b"%CE2%\0" + struct.pack("<HH", 2, 7) + b"Go.lnk\0"
    dirs = struct.pack("<HHHH", 1, 4, 1, 0)
    files = (struct.pack("<HHHIH", 1, 1, 1, 0x40000000, 6) + b"a.exe\0" +
             struct.pack("<HHHIH", 2, 1, 2, 0x40000000, 6) + b"b.mui\0")
    links = struct.pack("<8H", 1, 0, 11, 1, 1, 4, 2, 0)
    strings_at = 100 + len(names)
    dirs_at = strings_at + len(strings)
    files_at = dirs_at + len(dirs)
    links_at = files_at + len(files)
    length = links_at + len(links)
    header = b"MSCE" + struct.pack("<5I", 0, length, 0, 1, 0) + struct.pack("<6I", 5, 0, 7, 99, 0, 0xE0000000)
    header += struct.pack("<6H", 2, 1, 2, 0, 0, 1) + struct.pack("<6I", strings_at, dirs_at, files_at, links_at,
                                                                links_at, links_at)
    header += struct.pack("<8H", 100, 4, 104, len(provider) + 1, 0, 0, 0, 0)
    return header + names + strings + dirs + files + links


PRINTED = [
    'application "App", provider "Me"',
    "processor: any (0)",
    "CE versions: 5.0 to 7.99, builds 0 to 0xE0000000",
    "files:",
    r"  \Windows\a.exe  (from s.001, flags 0x40000000)",
    r"  \Windows\b.mui  (from s.002, flags 0x40000000)",
    r"shortcut: \Windows\Programs\Go.lnk -> \Windows\a.exe",
]


class CabSetupTest(unittest.TestCase):
    def write(self, provider="Me", files=("a.exe", "b.mui"), shortcut=("Go", "a.exe")):
        return writer.setup("App", provider, 0, (5, 0), (7, 99), list(files), shortcut)

    def test_the_writer_writes_and_the_reader_prints_the_cabinet_laid_out_by_hand(self):
        self.assertEqual(self.write(), by_hand())
        self.assertEqual(reader.describe(by_hand(), "s"), PRINTED)
        self.assertEqual(writer.members("s", 2), ["s.000", "s.002", "s.001"])

    def test_the_writer_edges(self):
        long_name = "n" * 200 + ".mui"
        cases = [
            ("an empty provider", dict(provider=""), 'application "App", provider ""'),
            ("a long file name", dict(files=("a.exe", long_name)), "  \\Windows\\%s  (from s.002, " % long_name),
            ("998 files", dict(files=["f%d" % n for n in range(998)], shortcut=("Go", "f997")),
             r"shortcut: \Windows\Programs\Go.lnk -> \Windows\f997"),
            ("999 files", dict(files=["f%d" % n for n in range(999)]), "999 files: a cabinet holds 1 to 998"),
            ("no file", dict(files=()), "0 files"),
            ("a shortcut to a file not among them", dict(shortcut=("Go", "c.exe")), "c.exe, which is not among"),
        ]
        for name, options, expected in cases:
            with self.subTest(name):
                try:
                    printed = "\n".join(reader.describe(self.write(**options), "s"))
                except writer.Refused as refused:
                    printed = str(refused)
                self.assertIn(expected, printed)

    def test_the_reader_refuses_what_does_not_hold_together(self):
        good = by_hand()
        files_at = struct.unpack_from("<I", good, 68)[0]

        def changed(at, layout, value):
            data = bytearray(good)
            struct.pack_into(layout, data, at, value)
            return bytes(data)
        cases = [
            ("no MSCE", b"MSCF" + good[4:], 'no "MSCE"'),
            ("a length the file has not", changed(8, "<I", len(good) + 1), "the header says"),
            ("the files' offset moved", changed(68, "<I", files_at + 2), "run past the end"),
            ("a file in a folder DIRS lacks", changed(files_at + 2, "<H", 9), "folder 9, which DIRS lacks"),
            ("a shortcut to a file FILES lacks", changed(len(good) - 10, "<H", 7), "file 7, which FILES lacks"),
            ("cut short", good[:-4], "the header says"),
        ]
        for name, data, reason in cases:
            with self.subTest(name):
                with self.assertRaises(reader.Broken) as broken:
                    reader.describe(data, "s")
                self.assertIn(reason, str(broken.exception))


if __name__ == "__main__":
    unittest.main()
