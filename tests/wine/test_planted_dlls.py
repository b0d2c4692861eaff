"""DLLs planted beside the setup program are never loaded.

The program runs elevated from the user's Downloads folder, where any program of the user can
put a DLL.  Copies of a DLL that records being loaded are planted there under the names of the
system DLLs the program uses (directly or through the system's own DLLs), Wine is told to prefer
a DLL beside the program over its own (as Windows does for every DLL that is not a known system
DLL), and a whole install runs: download, folder picker, installer run, Start Now."""
import shutil
import time
import unittest

import installer
import journey
import wineenv

# The DLLs that installers have been attacked through on Windows, and what the program loads
# during an install under Wine (WINEDEBUG=+loaddll).  Left out: the known system DLLs (advapi32,
# user32, sechost, shcore, ole32, oleaut32, imm32, ws2_32, nsi, comdlg32, ...), which Windows
# never takes from a program's folder while Wine does not treat them as known; and version.dll,
# which Wine's own system DLLs import while the program's import table is resolved, before its
# first line runs (Windows' system DLLs do not import it, and the program never does).
PLANTED = sorted(set("""
    winhttp gdiplus dwmapi uxtheme comctl32 cryptbase propsys profapi userenv secur32 msimg32
    wininet dbghelp bcrypt actxprxy crypt32 dnsapi explorerframe iphlpapi jsproxy kerberos
    msv1_0 netapi32 rsaenh schannel windowscodecs winspool.drv compstui
""".split()))


class PlantedDlls(unittest.TestCase):
    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        installer.reset_log()
        self.downloads = wineenv.drive_c() / "users" / "root" / "Downloads" / "planted"
        shutil.rmtree(self.downloads, ignore_errors=True)
        self.downloads.mkdir(parents=True)
        planted = journey.FIXTURES / "planted.dll"
        for name in PLANTED:
            shutil.copy(planted, self.downloads / (name if name.endswith(".drv") else name + ".dll"))
        self.record = self.downloads / "planted.log"
        overrides = ",".join(n if n.endswith(".drv") else n for n in PLANTED)
        self.env = {"WINEDLLOVERRIDES": f"{overrides}=n,b;mscoree,mshtml="}

    def tearDown(self):
        shutil.rmtree(self.downloads, ignore_errors=True)

    def test_the_plant_works_on_a_program_that_imports_one_of_them(self):
        # qvtool imports crypt32.dll: beside it, the planted copy is taken (and refuses to load).
        tool = self.downloads / "qvtool.exe"
        shutil.copy(installer.QVTOOL, tool)
        wineenv.run(tool, "find", extra_env=self.env, timeout=30)
        self.assertTrue(self.record.exists(), "no planted DLL was loaded: the test would prove nothing")
        self.assertIn("crypt32.dll", self.record.read_text().lower())

    def test_a_whole_install_loads_none_of_them(self):
        exe = self.downloads / "quorvel-setup.exe"
        shutil.copy(installer.EXE, exe)
        work = self.downloads.parent / "planted-work"
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir()
        fake = journey.FakeInstaller(work / "fake.jsonl", exit_code=0, run_ms=500)
        try:
            with journey.download_server(["file"]):
                p = wineenv.spawn(exe, extra_env={**self.env, **fake.env})
                self.assertEqual(installer.tool("wait", "30").returncode, 0, "the window did not appear")
                # The folder picker brings the shell's DLLs in.
                installer.click("lblSettings")
                installer.click("btnBrowse")
                self.assertTrue(installer.wait_until(lambda: installer.message_box() is not None, timeout=15))
                installer.press(2)  # Cancel
                self.assertTrue(installer.wait_until(
                    lambda: any(l.startswith("UI: install dir set to") for l in installer.read_log()[1])))
                installer.click("pbInstall")
                self.assertTrue(installer.wait_until(lambda: installer.state()["done"] == "1", timeout=60))
                installer.click("pbStart")
                self.assertEqual(p.wait(timeout=30), 0)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        _, lines = installer.read_log()
        self.assertIn("FLOW: install SUCCESS", lines)
        loaded = self.record.read_text() if self.record.exists() else ""
        self.assertEqual(loaded, "", "planted DLLs were loaded:\n" + loaded)


if __name__ == "__main__":
    unittest.main(verbosity=2)
