#!/usr/bin/env python3
"""Every tool's --version against the real sha256sum of its file.
Arguments: the project's version, then the built programs."""

import os
import subprocess
import sys

failed = not sys.argv[2:]
for path in sys.argv[2:]:
    run = subprocess.run([path, "--version"], capture_output=True, text=True, timeout=30)
    digest = subprocess.check_output(["sha256sum", path], text=True).split()[0]
    expected = (0, f"{os.path.basename(path)} {sys.argv[1]}\nSHA-256: {digest}\n", "")
    got = (run.returncode, run.stdout, run.stderr)
    print(got, "==" if got == expected else "!=", expected)
    failed |= got != expected
sys.exit(1 if failed else 0)
