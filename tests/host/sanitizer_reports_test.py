#!/usr/bin/env python3
"""How the check asan reads the sanitizers' output: which reports it finds, and which leaks are the plug-in's."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_checks import SOURCE_ROOT, executable_ranges, plugin_frames, sanitizer_reports  # noqa: E402

BUILD = "/builds/asan"
OURS = f"{SOURCE_ROOT}/src/operations/Restore.cpp:91"
MODULE = "/home/u/.config/obs-studio/plugins/obs-velkin/bin/64bit/obs-velkin.so"

OBS_LEAK = """Direct leak of 2696 byte(s) in 1 object(s) allocated from:
    #0 0x7f3047ef4610 in calloc ../../../../src/libsanitizer/asan/asan_malloc_linux.cpp:77
    #1 0x7f302d20f9ce  (<unknown module>)
    #2 0x7f5491c920d5 in gs_create (/lib/x86_64-linux-gnu/libobs.so.0+0x9d0d5)
"""
QT_LEAK = """Indirect leak of 120 byte(s) in 1 object(s) allocated from:
    #0 0x7f3047ef5778 in operator new(unsigned long) ../../../../src/libsanitizer/asan/asan_new_delete.cpp:95
    #1 0x7f30431da3b7 in QObject::QObject(QObject*) (/lib/x86_64-linux-gnu/libQt6Core.so.6+0x1da3b7)
"""
OUR_LEAK = f"""Indirect leak of 16 byte(s) in 1 object(s) allocated from:
    #0 0x7f3047ef5778 in operator new(unsigned long) ../../../../src/libsanitizer/asan/asan_new_delete.cpp:95
    #1 0x7f07dd99508c in Velkin::loadSnapshot(QString const&, Velkin::LoadSource, QList<QString>*) {OURS}
"""
# Not symbolized: only the module names the plug-in.
MODULE_LEAK = f"""Direct leak of 100 byte(s) in 1 object(s) allocated from:
    #0 0x7f3047ef5778 in operator new[](unsigned long) ../../../../src/libsanitizer/asan/asan_new_delete.cpp:98
    #1 0x7f07dd99508c  ({MODULE}+0x19508c)
"""
# The project's sources by their real path, when the project was reached through a symbolic link.
REAL_PATH_LEAK = OUR_LEAK.replace(SOURCE_ROOT, os.path.realpath(SOURCE_ROOT))
# A generated file of the sanitizer build (moc), reached through Qt.
MOC_LEAK = f"""Direct leak of 24 byte(s) in 1 object(s) allocated from:
    #0 0x7f3047ef5778 in operator new(unsigned long) ../../../../src/libsanitizer/asan/asan_new_delete.cpp:95
    #1 0x7f30431caa0b  (/lib/x86_64-linux-gnu/libQt6Core.so.6+0x1caa0b)
    #2 0x7f07dd9a0000 in Velkin::qt_metacall(QMetaObject::Call, int, void**) {BUILD}/velkin-core_autogen/moc.cpp:12
"""
USE_AFTER_FREE = f"""=================================================================
==12765==ERROR: AddressSanitizer: heap-use-after-free on address 0x503000706100 at pc 0x7f53c5995d87
READ of size 8 at 0x503000706100 thread T0
    #0 0x7f53c5995d86 in QString::size() const /usr/include/x86_64-linux-gnu/qt6/QtCore/qstring.h:192
    #1 0x7f53c5995d86 in Velkin::loadSnapshot(QString const&, Velkin::LoadSource, QList<QString>*) {OURS}

0x503000706100 is located 16 bytes inside of 24-byte region [0x5030007060f0,0x503000706108)
freed by thread T0 here:
    #0 0x7f54028f6678 in operator delete(void*, unsigned long) ../../../../src/libsanitizer/asan/asan_new_delete.cpp:164

SUMMARY: AddressSanitizer: heap-use-after-free {OURS} in Velkin::loadSnapshot
Shadow bytes around the buggy address:
  0x503000705e80: fa fa 00 00 00 fa fa fa fd fd fd fa fa fa fd fd
==12765==ABORTING
"""
UNDEFINED = f"""info: [obs-velkin] Loaded version 1.0.0 (OBS 30.2.3)
{OURS}:6: runtime error: signed integer overflow: 91 + 2147483644 cannot be represented in type 'int'
    #0 0x7fa74ff95baf in Velkin::loadSnapshot(QString const&, Velkin::LoadSource, QList<QString>*) {OURS}
    #1 0x7fa74ff8bfff in Velkin::applyPressedLoad() {SOURCE_ROOT}/src/operations/Presses.cpp:47

SUMMARY: UndefinedBehaviorSanitizer: undefined-behavior {OURS}:6
"""
LEAKS_HEADER = "=================================================================\n" \
               "==12765==ERROR: LeakSanitizer: detected memory leaks\n\n"
EXIT = "SUMMARY: AddressSanitizer: 4272 byte(s) leaked in 10 allocation(s).\nAddressSanitizer exit stats:\n" \
       "Stats: 768M malloced (89M for red zones) by 2082373 calls\n"
# OBS's own output after a report, naming a file of the project.
OBS_LINE = f"info: [obs-velkin] Saved {SOURCE_ROOT}/build/host/asan/snapshot.json\n"


class SanitizerReports(unittest.TestCase):
    def read(self, *texts):
        """The reports and exited processes of files holding the texts, written by processes 1, 2, ..."""
        with tempfile.TemporaryDirectory() as folder:
            files = {}
            for pid, text in enumerate(texts, 1):
                path = os.path.join(folder, f"out.{pid}")
                with open(path, "w") as f:
                    f.write(text)
                files[path] = pid
            return sanitizer_reports(files)

    def test_reports_and_ours(self):
        # A real module: an ELF file (this Python) under the plug-in's name, with a code offset of it and one past it.
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        module = os.path.join(folder.name, "obs-velkin.so")
        shutil.copy(os.path.realpath(sys.executable), module)
        start, end = executable_ranges(module)[0]
        frame = "    #1 0x7f3cb83fcbb7  ({}+{:#x})\n"
        calloc = "Indirect leak of 56 byte(s) in 1 object(s) allocated from:\n    #0 0x7f3cd4ef4610 in calloc\n"
        in_code = calloc + frame.format(module, (start + end) // 2)
        past_code = calloc + frame.format(module, end + 0x3aa000)
        # (what the file holds, the kinds of its reports, which of them have the plug-in's frames)
        cases = [
            ("a leak at an offset within the module's code", LEAKS_HEADER + in_code + "\n" + EXIT, ["leak"], [True]),
            ("a leak at an offset that the module holds no code at", LEAKS_HEADER + past_code + "\n" + EXIT,
             ["leak"], [False]),
            ("no reports", "info: Number of memory leaks: 0\n", [], []),
            ("leaks of OBS and Qt", LEAKS_HEADER + OBS_LEAK + "\n" + QT_LEAK + "\n" + EXIT, ["leak", "leak"],
             [False, False]),
            ("a leak of ours among others", LEAKS_HEADER + OBS_LEAK + "\n" + OUR_LEAK + "\n" + QT_LEAK + "\n" + EXIT,
             ["leak", "leak", "leak"], [False, True, False]),
            ("a leak in the module, not symbolized", LEAKS_HEADER + MODULE_LEAK + "\n" + EXIT, ["leak"], [True]),
            ("a leak in a file of the build", LEAKS_HEADER + MOC_LEAK + "\n" + EXIT, ["leak"], [True]),
            ("a leak in a source by its real path", LEAKS_HEADER + REAL_PATH_LEAK + "\n" + EXIT, ["leak"], [True]),
            ("an error, then OBS's output", USE_AFTER_FREE + OBS_LINE, ["error"], [True]),
            ("an error of UBSan inside OBS's output", UNDEFINED + OBS_LINE, ["runtime"], [True]),
        ]
        for name, text, kinds, ours in cases:
            with self.subTest(name):
                reports, _ = self.read(text)
                self.assertEqual([report.kind for report in reports], kinds)
                self.assertEqual([bool(plugin_frames(report, [BUILD])) for report in reports], ours)

    def test_an_error_report_ends_at_its_summary(self):
        (report,), _ = self.read(USE_AFTER_FREE)
        self.assertTrue(report.lines[-1].startswith("SUMMARY: AddressSanitizer: heap-use-after-free"))
        self.assertIn("freed by thread T0 here:", report.lines)

    def test_exit_statistics_tell_which_processes_reached_exit(self):
        reports, exited = self.read(LEAKS_HEADER + OUR_LEAK + "\n" + EXIT, LEAKS_HEADER + OBS_LEAK)
        self.assertEqual(exited, {1})
        self.assertEqual([report.pid for report in reports], [1, 2])


if __name__ == "__main__":
    unittest.main()
