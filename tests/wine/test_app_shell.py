"""The installer as a program: start-up lines, single instance, exit, and a log that another
process holds open."""
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import installer
import wineenv

START = "======== Quorvel Setup started ========"
EXIT = "======== Setup exited ========"


class AppShell(unittest.TestCase):
    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        installer.reset_log()

    def test_start_ready_and_exit_lines(self):
        for env, language in (({}, "English"), ({"LC_ALL": "de_DE.UTF-8"}, "Deutsch")):
            with self.subTest(language=language):
                installer.reset_log()
                p = installer.start(extra_env=env)
                bom, lines = installer.read_log()
                self.assertTrue(bom)
                self.assertEqual(lines[0], START)
                self.assertTrue(lines[1].startswith("Exe: ") and lines[1].endswith("\\quorvel-setup.exe"),
                                lines[1])
                self.assertRegex(lines[2], r"^OS: .*Windows.*build \d+.*64-bit")
                self.assertEqual(lines[3], "L10N: slides loaded (9 languages in resource)")
                self.assertEqual(lines[4], f"UI: ready, language={language}, "
                                           "default dir=C:\\Program Files\\Quorvel")
                self.assertTrue(lines[5].startswith('GA: event setup_run reason="" payload='), lines[5])
                state = installer.window_state()
                self.assertEqual(state["visible"], "1")
                self.assertEqual(state["client"], "640x368")
                self.assertEqual(installer.close(p), 0)
                bom, lines = installer.read_log()
                self.assertEqual(lines[-1], EXIT)
                self.assertEqual(lines.count(START), 1)
                self.assertEqual(sum(l.startswith("UI: ready") for l in lines), 1)

    def test_window_is_sized_for_the_monitor_dpi(self):
        desktop = r"HKCU\Control Panel\Desktop"
        wineenv.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
        try:
            p = installer.start()
            state = installer.window_state()
            self.assertEqual(installer.close(p), 0)
        finally:
            wineenv.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96", "/f")
        self.assertEqual(state["client"], "960x552")

    def test_second_copy_restores_the_minimised_first_and_ends(self):
        first = installer.start()
        try:
            installer.tool("minimize")
            self.assertTrue(installer.wait_until(lambda: installer.window_state()["iconic"] == "1"))
            first_pid = installer.window_state()["pid"]
            second = wineenv.spawn(installer.EXE)
            self.assertEqual(second.wait(timeout=20), 0)
            state = installer.window_state()
            self.assertEqual(state["pid"], first_pid, "the second copy opened a window of its own")
            self.assertEqual(state["iconic"], "0")
            self.assertEqual(state["foreground"], "1")
            # The refused copy left its start and exit lines in the shared log.
            _, lines = installer.read_log()
            self.assertEqual(lines.count(START), 2)
            self.assertEqual(lines[-1], EXIT)
            self.assertEqual(first.poll(), None, "the first copy ended")
        finally:
            self.assertEqual(installer.close(first), 0)
        _, lines = installer.read_log()
        self.assertEqual(lines.count(EXIT), 2)

    def test_log_held_by_another_process_loses_the_lines_only(self):
        # A first run creates the file so that the holder can open it.
        installer.close(installer.start())
        before = installer.log_path().read_bytes()
        holder = wineenv.spawn(installer.QVTOOL, "hold", wineenv.unix_to_windows(installer.log_path()), "30")
        self.assertTrue(installer.wait_until(lambda: "holding" in holder.read_stdout()))
        try:
            p = installer.start()
            self.assertEqual(installer.close(p), 0)
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(installer.log_path().read_bytes(), before)


    def test_a_start_that_cannot_make_the_window_ends_with_an_error_code(self):
        # A damaged program file: the window layout is not readable.
        work = Path(tempfile.mkdtemp(prefix="qv-damaged-"))
        try:
            exe = work / "quorvel-setup.exe"
            shutil.copy(installer.EXE, exe)
            (work / "layout.json").write_text("{ not a layout")
            r = installer.tool("setres", wineenv.unix_to_windows(exe), "TFRMMAIN",
                               wineenv.unix_to_windows(work / "layout.json"))
            self.assertEqual(r.returncode, 0, "could not damage the copy")
            result = wineenv.run(exe, timeout=30)
            self.assertEqual(result.returncode, 1)
            _, lines = installer.read_log()
            self.assertTrue(any(l.startswith("UI: cannot create the window: layout: not JSON") for l in lines), lines)
            self.assertEqual(lines[-1], EXIT)
            self.assertIsNone(installer.window_state())
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
