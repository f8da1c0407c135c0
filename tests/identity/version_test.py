#!/usr/bin/env python3
"""What the programs say of themselves, against the real sha256sum of their files: every tool's
--version, and the line waga-stacja writes to standard error when it starts.
Arguments: the project's version, then the built programs."""

import os
import signal
import subprocess
import sys
import tempfile
import unittest

VERSION = None
PROGRAMS = []


def sha256sum(path):
    out = subprocess.run(["sha256sum", path], check=True, capture_output=True, text=True).stdout
    return out.split()[0]


class Version(unittest.TestCase):
    def test_every_tool_names_its_version_and_its_file_digest(self):
        for path in PROGRAMS:
            name = os.path.basename(path)
            with self.subTest(program=name):
                run = subprocess.run([path, "--version"], capture_output=True, text=True,
                                     timeout=30)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stderr, "")
                self.assertEqual(run.stdout.splitlines(),
                                 [f"{name} {VERSION}", f"SHA-256: {sha256sum(path)}"])

    def test_the_station_tells_it_first_when_it_starts(self):
        path = next(p for p in PROGRAMS if os.path.basename(p) == "waga-stacja")
        with tempfile.TemporaryDirectory() as folder:
            env = dict(os.environ, WAGA_DIR=folder)
            station = subprocess.Popen([path], env=env, stderr=subprocess.PIPE, text=True)
            try:
                first = station.stderr.readline()
            finally:
                station.send_signal(signal.SIGTERM)
                rest = station.communicate(timeout=30)[1]
            self.assertEqual(station.returncode, 0, rest)
            self.assertEqual(first,
                             f"waga-stacja: wersja {VERSION}, SHA-256 {sha256sum(path)}\n")


if __name__ == "__main__":
    VERSION = sys.argv[1]
    PROGRAMS = sys.argv[2:]
    unittest.main(argv=sys.argv[:1], verbosity=2)
