"""Checks the release program file for what it must be: a 32-bit x86 GUI executable that
needs no DLL beyond Windows' own, carrying its manifest, version strings, icon group and
embedded data.  Reads the PE file directly (standard library only)."""
import re
import struct
import subprocess
import sys
import unittest
from pathlib import Path

EXE = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path("quorvel-setup.exe")
# The signed copy and the test CA that issued its certificate, when the build signs.
SIGNED = Path(sys.argv.pop(1)) if len(sys.argv) > 1 and sys.argv[1] != "-" else None
if len(sys.argv) > 1 and sys.argv[1] == "-":
    sys.argv.pop(1)
SIGNING_CA = Path(sys.argv.pop(1)) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else None
RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
               "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "winhttp.dll", "gdiplus.dll",
               "dwmapi.dll", "rpcrt4.dll", "shlwapi.dll", "msvcrt.dll", "uxtheme.dll", "version.dll",
               "winspool.drv", "crypt32.dll", "ws2_32.dll", "ntdll.dll", "bcrypt.dll"}


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        self.machine, nsect, self.timestamp, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dd = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dd + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(nsect):
            s = opt + optsize + 40 * i
            name = data[s:s + 8].rstrip(b"\0").decode()
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((name, va, max(vsize, rawsize), rawptr))

    def off(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(hex(rva))

    def imports(self):
        rva = self.dirs[1][0]
        out, o = [], self.off(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
            if name_rva == 0:
                return out
            n = self.off(name_rva)
            out.append(self.data[n:self.data.index(b"\0", n)].decode().lower())
            o += 20

    def resources(self):
        """{(type, name): bytes} for the first language of every resource."""
        base = self.off(self.dirs[2][0])
        res = {}

        def entries(o):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                name, child = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                if name & 0x80000000:
                    s = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, s)[0]
                    name = self.data[s + 2:s + 2 + 2 * length].decode("utf-16-le")
                yield name, child

        for typ, c1 in entries(base):
            for name, c2 in entries(base + (c1 & 0x7FFFFFFF)):
                for _, c3 in entries(base + (c2 & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, base + c3)
                    res[(typ, name)] = self.data[self.off(rva):self.off(rva) + size]
                    break
        return res


class ReleaseExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = PE(EXE.read_bytes())
        cls.res = cls.pe.resources()

    def test_is_a_32_bit_gui_program(self):
        self.assertEqual(self.pe.machine, 0x14C)        # i386
        self.assertEqual(self.pe.magic, 0x10B)          # PE32
        self.assertEqual(self.pe.subsystem, 2)          # Windows GUI
        self.assertIn("PE32 executable (GUI) Intel 80386", subprocess.run(
            ["file", str(EXE)], capture_output=True, text=True).stdout)

    def test_needs_only_system_dlls(self):
        extra = [d for d in self.pe.imports() if d not in SYSTEM_DLLS and not d.startswith("api-ms-")]
        self.assertEqual(extra, [], "the program depends on DLLs that Windows does not have")

    def test_lazily_loads_every_dll_that_is_not_a_known_system_dll(self):
        # The program runs from the user's Downloads: these must not be in its import table,
        # which the system resolves from the program's folder first.
        for dll in ("winhttp.dll", "gdiplus.dll", "comctl32.dll", "dwmapi.dll", "uxtheme.dll", "version.dll"):
            self.assertNotIn(dll, self.pe.imports())
        # They are named in the delay-load tables instead.
        for dll in (b"winhttp.dll", b"gdiplus.dll", b"comctl32.dll"):
            self.assertIn(dll, self.pe.data)

    def test_has_no_time_stamp(self):
        # Building the same commit twice gives the same bytes.
        self.assertEqual(self.pe.timestamp, 0)

    @unittest.skipUnless(SIGNED, "the build was not given a signing certificate")
    def test_signed_copy_verifies(self):
        r = subprocess.run(["osslsigncode", "verify", "-in", str(SIGNED)] +
                           (["-CAfile", str(SIGNING_CA)] if SIGNING_CA else []),
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("Signature verification: ok", r.stdout)
        self.assertIn("Quorvel Setup", r.stdout)

    def test_is_stripped(self):
        self.assertNotIn(".debug_info", [s[0] for s in self.pe.sections])

    def test_manifest(self):
        m = self.res[(RT_MANIFEST, 1)].decode("utf-8")
        self.assertRegex(m, r'requestedExecutionLevel level="requireAdministrator" uiAccess="false"')
        self.assertRegex(m, r'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"\s+'
                            r'processorArchitecture="\*" publicKeyToken="6595b64144ccf1df" language="\*"')
        self.assertIn(">true/PM</dpiAware>", m)
        self.assertIn(">PerMonitorV2</dpiAwareness>", m)
        self.assertRegex(m, r'<assemblyIdentity type="win32" name="[^"]+" version="1.1.1.0" processorArchitecture="\*"/>')

    def test_version_resource(self):
        v = self.res[(RT_VERSION, 1)]
        # Fixed part: signature then file and product versions (1.1.1.0 = 0x00010001, 0x00010000).
        fixed = v.index(struct.pack("<I", 0xFEEF04BD))
        self.assertEqual(struct.unpack_from("<IIIII", v, fixed + 8), (0x00010001, 0x00010000,
                                                                       0x00010001, 0x00010000, 0x3F))
        text = v.decode("utf-16-le", "replace")
        strings = dict(re.findall(r"(\w+)\0+([^\0]+)\0", text))
        for key, value in {"FileVersion": "1.1.1.0", "ProductVersion": "1.1.1.0",
                           "FileDescription": "Quorvel Online Installer", "InternalName": "OnlineInstaller",
                           "OriginalFilename": "quorvel-setup.exe", "ProductName": "Quorvel"}.items():
            self.assertEqual(strings.get(key), value, key)
        self.assertTrue(strings.get("CompanyName"))

    def test_icon_group_has_seven_sizes_with_a_png_256(self):
        group = self.res[(RT_GROUP_ICON, "MAINICON")]
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = {}
        for i in range(count):
            w, h, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            img = self.res[(RT_ICON, icon_id)]
            sizes[w or 256] = (bits, img[:4] == b"\x89PNG")
        self.assertEqual(sorted(sizes), [16, 24, 32, 48, 64, 128, 256])
        self.assertTrue(all(bits == 32 for bits, _ in sizes.values()))
        self.assertTrue(sizes[256][1], "the 256-pixel image is not stored as PNG")

    def test_embedded_data(self):
        for name in ("TFRMMAIN", "SLIDES", "BRANDPNG", "PRODUCTPNG", "SLIDE1", "SLIDE2", "SLIDE3", "SLIDE4"):
            self.assertIn((RT_RCDATA, name), self.res, name)
        for name in ("BRANDPNG", "PRODUCTPNG", "SLIDE1", "SLIDE4"):
            self.assertEqual(self.res[(RT_RCDATA, name)][:4], b"\x89PNG", name)


if __name__ == "__main__":
    # The size is a figure to watch (scripts/size-report.py shows where it goes), not a check.
    _pe = PE(EXE.read_bytes())
    print(f"{EXE.name}: {EXE.stat().st_size:,} bytes (" +
          ", ".join(f"{name} {size:,}" for name, _, size, _ in _pe.sections) + ")", flush=True)
    unittest.main(verbosity=2)
