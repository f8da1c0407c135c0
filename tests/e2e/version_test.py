#!/usr/bin/env python3
"""Every tool's --version against the real sha256sum of its file.
Arguments: the project's version, then the built programs."""

import os
import subprocess
import sys

version, programs = sys.argv[1], sys.argv[2:]
failures = 0
for path in programs:
    name = os.path.basename(path)
    run = subprocess.run([path, "--version"], capture_output=True, text=True, timeout=30)
    digest = subprocess.run(["sha256sum", path], check=True, capture_output=True,
                            text=True).stdout.split()[0]
    expected = (0, f"{name} {version}\nSHA-256: {digest}\n", "")
    if (run.returncode, run.stdout, run.stderr) != expected:
        failures += 1
        print(f"{name}: {(run.returncode, run.stdout, run.stderr)!r}, expected {expected!r}")
    else:
        print(f"{name}: {run.stdout.splitlines()[1]}")
sys.exit(1 if failures or not programs else 0)
