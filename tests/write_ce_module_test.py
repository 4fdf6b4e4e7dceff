"""cmake/write-ce-module: what it must write right and what it must refuse.

Inputs are made as the build makes them (clang assembles, ld.lld links with
cmake/ce-module.ld and --emit-relocs; .res files are laid out here by hand),
and what is written is read back with pefile, which the writer does not use.
"""
import importlib.machinery
import importlib.util
import io
import os
import struct
import subprocess
import tempfile
import unittest

import pefile

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
loader = importlib.machinery.SourceFileLoader("write_ce_module", os.path.join(SOURCE, "cmake", "write-ce-module"))
writer = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
loader.exec_module(writer)

BASE = 0x10000
# A program that calls two imports through the thunks and keeps an absolute
# address of its data in a literal pool and in its data.
PROGRAM = """
    .text
    .arm
    .globl Start
Start:
    ldr r0, 1f
    bl SetLastError
    bl InitCommonControlsEx
    bx lr
1:  .word value
    .globl Exported
Exported:
    bx lr
    .data
value: .word Start
"""


def res_entry(kind, name, language, data):
    def name_or_id(value):
        if isinstance(value, int):
            return struct.pack("<HH", 0xFFFF, value)
        return value.encode("utf-16-le") + b"\0\0"
    header = name_or_id(kind) + name_or_id(name)
    header += bytes(-(8 + len(header)) % 4)
    header += struct.pack("<IHHII", 0, 0x30, language, 0, 0)
    entry = struct.pack("<II", len(data), 8 + len(header)) + header + data
    return entry + bytes(-len(entry) % 4)


class WriterTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.coredll = self.file("coredll.def", "LIBRARY COREDLL.dll\nEXPORTS\n    SetLastError@4 ; note\n")
        self.commctrl = self.file("commctrl.def", "LIBRARY COMMCTRL.dll\nEXPORTS\n    InitCommonControlsEx@4\n")
        self.exports = self.file("exports.def", "LIBRARY test.cpl\nEXPORTS\n    Exported\n")
        self.res = self.file("test.res", res_entry(0, 0, 0, b"") + res_entry(6, 1, 0x409, b"strings"), "wb")

    def file(self, name, text, mode="w"):
        path = os.path.join(self.folder.name, name)
        with open(path, mode) as out:
            out.write(text)
        return path

    def link(self, assembly, target="armv4t", entry="Start", thunks=True):
        """The ELF of assembly, with the thunks of both .def files, linked as the build links."""
        objects = [self.assemble("program", assembly, target)]
        if thunks:
            thunks = io.StringIO()
            writer.write_thunks([self.coredll + ",memset", self.commctrl], thunks)
            objects.append(self.assemble("thunks", thunks.getvalue(), "armv4t"))
        elf = os.path.join(self.folder.name, "module.elf")
        subprocess.run(["ld.lld", "-T", os.path.join(SOURCE, "cmake", "ce-module.ld"),
                        "--defsym=__ImageBase=0x%X" % BASE, "--emit-relocs", "-e", entry, *objects, "-o", elf],
                       check=True, stderr=subprocess.DEVNULL)
        return elf

    def assemble(self, name, text, target):
        source = self.file(name + ".s", text)
        subprocess.run(["clang", "--target=%s-none-elf" % target, "-mfloat-abi=soft", "-c", source,
                        "-o", source + ".o"], check=True)
        return source + ".o"

    def write(self, elf, **options):
        out = os.path.join(self.folder.name, "module.exe")
        writer.image(elf, options.get("res", self.res), options.get("dll", False), options.get("exports"),
                     options.get("imports", [self.coredll + ",memset", self.commctrl]), out)
        return pefile.PE(out)

    def test_a_program_reads_back_as_ce_loads_it(self):
        elf = self.link(PROGRAM)
        module = self.write(elf)
        self.assertEqual(module.FILE_HEADER.Machine, 0x1C2)
        optional = module.OPTIONAL_HEADER
        self.assertEqual((optional.Subsystem, optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
                         (9, 5, 0))
        self.assertEqual((optional.SizeOfStackReserve, optional.SizeOfStackCommit), (0x10000, 0x1000))
        self.assertFalse(module.FILE_HEADER.Characteristics & 0x2000)
        symbols = writer.Elf(elf).symbols
        self.assertEqual(optional.AddressOfEntryPoint, symbols["Start"]["value"] - BASE)
        imports = {entry.dll.decode(): [(name.name.decode(), name.address) for name in entry.imports]
                   for entry in module.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual({dll: [name for name, _ in names] for dll, names in imports.items()},
                         {"COREDLL.dll": ["SetLastError", "memset"], "COMMCTRL.dll": ["InitCommonControlsEx"]})
        # Each thunk's slot is the one the import directory names for it.
        for names in imports.values():
            for name, address in names:
                self.assertEqual(address, symbols["__imp_" + name]["value"])
        # The literal's and the data's addresses, and each thunk's slot address, move with the module.
        relocated = sorted(entry.rva for block in module.DIRECTORY_ENTRY_BASERELOC for entry in block.entries
                           if entry.type == 3)
        expected = sorted(address - BASE for address, kind, _, _ in writer.Elf(elf).relocations() if kind == 2)
        self.assertEqual(relocated, expected)
        self.assertEqual(len(relocated), 2 + 3)
        code = module.sections[0]
        self.assertEqual(code.Name.rstrip(b"\0"), b".text")
        text = next(s for s in writer.Elf(elf).sections if s["name"] == ".text")
        self.assertEqual(code.get_data()[:text["size"]], writer.Elf(elf).contents(text))

    def test_what_it_must_refuse(self):
        cases = [
            ("a relocation it cannot express", PROGRAM + "\n.text\nmovw r0, #:lower16:value\n", "armv7", {},
             "relocation type 43"),
            ("an import no .def file lists", PROGRAM + "\n.data\n.globl __imp_Bogus\n__imp_Bogus: .word 0\n",
             "armv4t", {}, "Bogus is imported but no .def file lists it"),
            ("a section aligned beyond a page", PROGRAM + "\n.data\n.p2align 13\n.word 1\n", "armv4t", {},
             "aligned beyond"),
            ("an export the module lacks", PROGRAM, "armv4t",
             {"dll": True, "exports": None}, "Missing is to be exported"),
            ("a module with no entry point", PROGRAM, "armv4t", {"entry": "0"}, "no entry point in its code"),
        ]
        for name, assembly, target, options, reason in cases:
            with self.subTest(name):
                if "exports" in options:
                    options = dict(options, exports=self.file("missing.def", "LIBRARY t.cpl\nEXPORTS\n    Missing\n"))
                elf = self.link(assembly, target, entry=options.pop("entry", "Start"))
                if os.path.exists(os.path.join(self.folder.name, "module.exe")):
                    os.remove(os.path.join(self.folder.name, "module.exe"))
                with self.assertRaises(writer.Refused) as refused:
                    self.write(elf, **options)
                self.assertIn(reason, str(refused.exception))
                self.assertFalse(os.path.exists(os.path.join(self.folder.name, "module.exe")))

    def test_a_dll_exports_by_name_and_a_mui_file_has_no_entry(self):
        module = self.write(self.link(PROGRAM), dll=True, exports=self.exports)
        self.assertTrue(module.FILE_HEADER.Characteristics & 0x2000)
        self.assertEqual([(e.name, e.ordinal) for e in module.DIRECTORY_ENTRY_EXPORT.symbols], [(b"Exported", 1)])
        self.assertEqual(module.DIRECTORY_ENTRY_EXPORT.symbols[0].address,
                         writer.Elf(os.path.join(self.folder.name, "module.elf")).symbols["Exported"]["value"] - BASE)
        out = os.path.join(self.folder.name, "test.mui")
        writer.resources_only(self.res, out)
        mui = pefile.PE(out)
        self.assertEqual((mui.FILE_HEADER.Machine, mui.OPTIONAL_HEADER.AddressOfEntryPoint), (0x1C2, 0))
        self.assertTrue(mui.FILE_HEADER.Characteristics & 0x2000)
        self.assertEqual([s.Name.rstrip(b"\0") for s in mui.sections], [b".rsrc"])
        self.assertFalse(hasattr(mui, "DIRECTORY_ENTRY_IMPORT") or hasattr(mui, "DIRECTORY_ENTRY_BASERELOC"))

    def test_resources_with_names_and_ids_are_found_where_the_loader_searches(self):
        res = self.file("named.res", b"".join([
            res_entry(0, 0, 0, b""),
            res_entry(6, 2, 0x409, b"second block"),
            res_entry("ZDATA", "B", 0x407, b"named in German"),
            res_entry("ZDATA", "B", 0x409, b"named in English"),
            res_entry(6, 1, 0x409, b"first"),
            res_entry("ADATA", 7, 0x409, b"named type, numbered"),
        ]), "wb")
        module = self.write(self.link(PROGRAM), res=res)
        found = []
        for kind in module.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = language.data.struct
                    found.append((str(kind.name) if kind.name else kind.id, str(name.name) if name.name else name.id,
                                  language.id, module.get_data(data.OffsetToData, data.Size)))
        # Names first, in order, then numbers, in order, at every level.
        self.assertEqual(found, [
            ("ADATA", 7, 0x409, b"named type, numbered"),
            ("ZDATA", "B", 0x407, b"named in German"),
            ("ZDATA", "B", 0x409, b"named in English"),
            (6, 1, 0x409, b"first"),
            (6, 2, 0x409, b"second block"),
        ])
        with self.assertRaises(writer.Refused):
            writer.read_res(self.file("cut.res", res_entry(6, 1, 0x409, b"strings")[:-4], "wb"))


if __name__ == "__main__":
    unittest.main()
