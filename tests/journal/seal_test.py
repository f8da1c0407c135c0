#!/usr/bin/env python3
"""The journal's seal end to end: the built program writes the journal from the simulated scale,
the real sqlite3 shell tampers with a copy in one way per case, and `waga-journal verify` names
the row (status 1), as does seal_verify.py, an independent check written from doc/evidence.md
alone (hashlib and python3-nacl). The intact journal gives 0 (also while the program writes),
an unreadable one 2. A program started on a tampered journal tells it once and seals what it
stores after. An export changed after it was made (a CSV cell, an XLSX saved by LibreOffice Calc)
fails `waga-journal verify-export`."""

import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

from nacl.signing import SigningKey

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import seal_verify  # noqa: E402  (used only to forge, as someone who read the format would)

PROGRAM = SIM = TOOL = None
# Runs of identical readings (their rows grow and are sealed again), report lines between.
LINES = [" 12,5"] * 4 + ["RAPORT A", " 7,25", " 7,25", " 3,00", "RAPORT B", " 1,50", " 2,00",
                         " 2,00", " 2,00", "Koniec"]
ROWS = 8


def launch(folder, config, lines):
    """The simulator sends `lines` to the program in `folder`; returns the running program."""
    runtime = os.path.join(folder, "..", "runtime-" + os.path.basename(folder))
    os.makedirs(runtime, 0o700, exist_ok=True)
    env = dict(os.environ, TZ="Europe/Warsaw", QT_QPA_PLATFORM="offscreen",
               XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=config)
    lines_file = os.path.join(folder, "..", "linie-" + os.path.basename(folder))
    with open(lines_file, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    sim = subprocess.Popen([SIM, "--link", os.path.join(folder, "COM2"), "--lines", lines_file,
                            "--rate", "20", "--report-every", "0", "--wait-open", "--quiet"],
                           env=env)
    for _ in range(100):
        if os.path.lexists(os.path.join(folder, "COM2")):
            break
        time.sleep(0.05)
    try:
        program = subprocess.Popen([PROGRAM], cwd=folder, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
    except OSError:
        sim.kill()
        sim.wait()
        raise
    return sim, program


def rows_in(journal):
    try:
        db = sqlite3.connect(f"file:{journal}?mode=ro", uri=True)
        rows = db.execute("SELECT seq, kind, count FROM lines ORDER BY seq").fetchall()
        db.close()
        return rows
    except sqlite3.Error:
        return []  # not made yet


def wait_for(journal, count):
    deadline = time.monotonic() + 60
    while sum(r[2] for r in rows_in(journal)) < count:
        if time.monotonic() > deadline:
            raise AssertionError(f"the journal did not get {count} rows: {rows_in(journal)}")
        time.sleep(0.1)
    return rows_in(journal)


def stop(sim, program):
    if sim.poll() is None:
        sim.kill()
    sim.wait()
    program.send_signal(signal.SIGTERM)
    output = program.communicate(timeout=60)[0].decode("utf-8", "replace")
    if program.returncode != 0:
        raise AssertionError(f"the program ended with {program.returncode}: {output}")
    return output


def tool(*args, config):
    env = dict(os.environ, XDG_CONFIG_HOME=config, LANG="pl_PL.UTF-8")
    return subprocess.run([TOOL, *args], env=env, capture_output=True, text=True, timeout=60)


def independent(path, key=None):
    args = [sys.executable, os.path.join(HERE, "seal_verify.py"), path]
    return subprocess.run(args + (["--key", key] if key else []), capture_output=True, text=True,
                          timeout=60)


class Sealed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="pieczęć ł ")
        cls.config = os.path.join(cls.dir.name, "konfiguracja")
        cls.work = os.path.join(cls.dir.name, "praca wagi")
        os.mkdir(cls.work)
        journal = os.path.join(cls.work, "dziennik.sqlite")
        sim, program = launch(cls.work, cls.config, LINES)
        try:
            sim.wait(timeout=60)
            wait_for(journal, len(LINES))
            # The live journal, checked while the program holds it open.
            cls.live = tool("verify", "--journal", journal, config=cls.config)
        finally:
            cls.output = stop(sim, program)
        cls.base = os.path.join(cls.dir.name, "kopia.sqlite")
        subprocess.run([TOOL, "backup", cls.base, "--journal", journal], check=True)
        cls.rows = rows_in(cls.base)
        cls.key = tool("key", config=cls.config).stdout.strip()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def copy(self, name):
        path = os.path.join(self.dir.name, name + ".sqlite")
        shutil.copyfile(self.base, path)
        return path

    def test_the_program_seals_every_row_and_the_journal_verifies(self):
        self.assertEqual(len(self.rows), ROWS)
        self.assertEqual(self.live.returncode, 0, self.live.stdout + self.live.stderr)
        self.assertEqual(self.output.count("Dziennik: Utworzono nowy klucz stacji"), 1, self.output)
        self.assertRegex(self.key, "^[0-9a-f]{64}$")
        done = tool("verify", "--journal", self.base, config=self.config)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(f"Z pieczęcią: {ROWS}, bez pieczęci: 0", done.stdout)
        self.assertIn(self.key, done.stdout)
        self.assertEqual(independent(self.base, self.key).returncode, 0)

    def test_each_way_of_tampering_is_named(self):
        seqs = [r[0] for r in self.rows]
        m, n = seqs[3], seqs[5]
        swap = ", ".join(f"{c} = (SELECT {c} FROM lines WHERE seq = {{o}})" for c in
                         ["kind", "first_ms", "last_ms", "count", "text", "raw", "value", "unit",
                          "port"])
        cases = [
            # name, SQL for the sqlite3 shell, the seq the finding names
            ("value", f"UPDATE lines SET value = 99.99, text = '99,99' WHERE seq = {m}", m),
            ("kind", f"UPDATE lines SET kind = 'gap' WHERE seq = {m}", m),
            ("first_ms", f"UPDATE lines SET first_ms = first_ms - 1 WHERE seq = {m}", m),
            ("last_ms", f"UPDATE lines SET last_ms = last_ms + 1000 WHERE seq = {seqs[0]}",
             seqs[0]),
            ("count", f"UPDATE lines SET count = count - 1 WHERE seq = {seqs[0]}", seqs[0]),
            ("text", f"UPDATE lines SET text = ' 7,26' WHERE seq = {m}", m),
            ("raw", f"UPDATE lines SET raw = CAST(' 7,26' AS BLOB) WHERE seq = {m}", m),
            ("unit", f"UPDATE lines SET unit = 'g' WHERE seq = {m}", m),
            ("port", f"UPDATE lines SET port = 'COM1' WHERE seq = {m}", m),
            ("value as text", f"UPDATE lines SET value = '7,25' WHERE seq = {m}", m),
            ("row deleted", f"DELETE FROM lines WHERE seq = {m}", m),
            ("row and seal deleted",
             f"DELETE FROM lines WHERE seq = {m}; DELETE FROM seals WHERE seq = {m}", seqs[4]),
            ("oldest deleted",
             f"DELETE FROM lines WHERE seq = {seqs[0]}; DELETE FROM seals WHERE seq = {seqs[0]}",
             seqs[0]),
            ("newest deleted, head kept",
             f"DELETE FROM lines WHERE seq = {seqs[-1]}; DELETE FROM seals WHERE seq = {seqs[-1]}",
             seqs[-1]),
            ("row inserted after",
             f"INSERT INTO lines SELECT seq + 5, kind, first_ms + 9000, last_ms + 9000, count,"
             f" text, raw, value, unit, port FROM lines WHERE seq = {seqs[-1]}", seqs[-1] + 5),
            ("row inserted before",
             f"INSERT INTO lines SELECT seq - 100, kind, first_ms - 9000, last_ms - 9000, count,"
             f" text, raw, value, unit, port FROM lines WHERE seq = {seqs[0]}", seqs[0]),
            ("two rows swapped",
             f"UPDATE lines SET {swap.format(o=n)} WHERE seq = {m};"
             f" UPDATE lines SET {swap.format(o=m)} WHERE seq = {n};", m),
            ("seal edited", f"UPDATE seals SET link = zeroblob(32) WHERE seq = {m}", m),
            ("head edited", "UPDATE seal_head SET unsealed = 1", seqs[-1]),
            ("seal removed", "DROP TABLE seals; DROP TABLE seal_head", seqs[-1]),
        ]
        for name, sql, seq in cases:
            with self.subTest(name):
                path = self.copy("zmiana")
                subprocess.run(["sqlite3", path, sql], check=True)
                self.assertNamed(path, seq)

    def test_a_forger_who_knows_the_format_or_has_another_key_is_caught(self):
        # The links recomputed after a change: only the signature can tell.
        relinked = self.copy("przeliczony")
        subprocess.run(["sqlite3", relinked, f"UPDATE lines SET value = 9.5 WHERE seq = "
                                             f"{self.rows[3][0]}"], check=True)
        db = sqlite3.connect(relinked)
        db.text_factory = bytes
        base_prev_seq, base_prev = db.execute(
            "SELECT base_prev_seq, base_prev FROM seal_head").fetchone()
        typed = ", ".join(f"typeof({c}), {c}" for c in seal_verify.COLUMNS.split(", "))
        previous, previous_seq = base_prev, base_prev_seq
        for r in db.execute(f"SELECT {typed} FROM lines ORDER BY seq").fetchall():
            previous = seal_verify.link(previous, previous_seq,
                                        [(r[2 * i], r[2 * i + 1]) for i in range(10)])
            db.execute("UPDATE seals SET link = ? WHERE seq = ?", (previous, r[1]))
            previous_seq = r[1]
        db.commit()
        db.close()
        self.assertNamed(relinked, self.rows[-1][0])
        # The head signed again, validly, by another station's key.
        other = self.copy("inny-klucz")
        db = sqlite3.connect(other)
        head = db.execute("SELECT base_seq, base_prev_seq, base_prev, head_seq, head_link,"
                          " unsealed, signed_ms FROM seal_head").fetchone()
        forger = SigningKey.generate()
        public = bytes(forger.verify_key)
        import hashlib
        import struct
        message = (b"\x01" + hashlib.sha256(public).digest() + struct.pack(">qq", *head[:2]) +
                   head[2] + struct.pack(">q", head[3]) + head[4] + struct.pack(">qq", *head[5:]))
        db.execute("UPDATE seal_head SET public_key = ?, signature = ?",
                   (public, forger.sign(message).signature))
        db.commit()
        db.close()
        self.assertNamed(other, self.rows[-1][0])
        # Only the station's key tells it: the signature itself is sound.
        self.assertEqual(independent(other).returncode, 0)

    def test_an_unreadable_journal_gives_two(self):
        garbage = os.path.join(self.dir.name, "nie-baza.sqlite")
        with open(garbage, "wb") as f:
            f.write(b"to nie jest baza danych" * 100)
        for path in [garbage, os.path.join(self.dir.name, "brak.sqlite")]:
            with self.subTest(path):
                result = tool("verify", "--journal", path, config=self.config)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)

    def test_a_tampered_journal_is_told_once_at_start_and_new_rows_are_sealed(self):
        work = os.path.join(self.dir.name, "druga praca")
        os.mkdir(work)
        journal = os.path.join(work, "dziennik.sqlite")
        shutil.copyfile(self.base, journal)
        changed = self.rows[3][0]
        subprocess.run(["sqlite3", journal, f"UPDATE lines SET value = 1 WHERE seq = {changed}"],
                       check=True)
        more = [" 4,00", "RAPORT C", " 5,00"]
        sim, program = launch(work, self.config, more)
        try:
            sim.wait(timeout=60)
            wait_for(journal, ROWS + len(more))
        finally:
            output = stop(sim, program)
        self.assertEqual(output.count("Pieczęć dziennika wykazuje zmiany"), 1, output)
        self.assertIn(f"seq {changed}", output)
        result = tool("verify", "--journal", journal, config=self.config)
        self.assertEqual(result.returncode, 1)
        findings = [line for line in result.stdout.splitlines() if line.startswith("seq ")]
        self.assertEqual(findings, [f"seq {changed}: wiersz nie zgadza się ze swoją pieczęcią "
                                    "(zmieniony)"])
        self.assertIn(f"Z pieczęcią: {ROWS + len(more)}, bez pieczęci: 0", result.stdout)

    def test_an_export_changed_after_it_was_made_fails_verify_export(self):
        csv = os.path.join(self.dir.name, "eksport.csv")
        xlsx = os.path.join(self.dir.name, "eksport.xlsx")
        for path, extra in [(csv, []), (xlsx, ["--format", "xlsx"])]:
            made = tool("export", "--journal", self.base, "--output", path, *extra,
                        config=self.config)
            self.assertEqual(made.returncode, 0, made.stderr)
            self.assertEqual(made.stderr, "")
            self.assertEqual(tool("verify-export", path, config=self.config).returncode, 0)
        # The workbook opened and saved by LibreOffice Calc, as a clerk would.
        profile = os.path.join(self.dir.name, "profil-lo")
        saved = os.path.join(self.dir.name, "z-calc")
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile.replace(" ", "%20"),
                        "--headless", "--norestore", "--convert-to", "xlsx", "--outdir", saved,
                        xlsx], check=True, capture_output=True, timeout=300)
        shutil.copyfile(os.path.join(saved, "eksport.xlsx"), xlsx)
        with open(csv, "r+b") as f:
            data = f.read().replace(b"7,25", b"7,35", 1)
            f.seek(0)
            f.write(data)
        manifest_edited = os.path.join(self.dir.name, "eksport2.csv")
        tool("export", "--journal", self.base, "--output", manifest_edited, config=self.config)
        with open(manifest_edited + ".podpis", "r+b") as f:
            data = f.read().replace(b"wierszy: 8", b"wierszy: 9")
            f.seek(0)
            f.write(data)
        other = os.path.join(self.dir.name, "eksport3.csv")
        tool("export", "--journal", self.base, "--output", other, config=self.config)
        missing = os.path.join(self.dir.name, "eksport4.csv")
        shutil.copyfile(other, missing)
        cases = [
            # name, the arguments after verify-export, status, the finding
            ("xlsx saved by Calc", [xlsx], 1, "plik zmieniono po eksporcie"),
            ("one CSV cell", [csv], 1, "plik zmieniono po eksporcie"),
            ("the manifest edited", [manifest_edited], 1, "podpis eksportu się nie zgadza"),
            ("another station's key", [other, "--key", "ab" * 32], 1, "inny klucz"),
            ("no manifest", [missing], 2, ""),
        ]
        for name, args, status, finding in cases:
            with self.subTest(name):
                result = tool("verify-export", *args, config=self.config)
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertIn(finding, result.stdout)

    def assertNamed(self, path, seq):
        result = tool("verify", "--journal", path, config=self.config)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(f"seq {seq}: ", result.stdout)
        self.assertEqual(independent(path, self.key).returncode, 1, path)


if __name__ == "__main__":
    PROGRAM, SIM, TOOL = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main(verbosity=2)
