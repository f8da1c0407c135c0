#!/usr/bin/env python3
"""waga-journal export read back by real readers: Python's csv module with ';' and a decimal
comma, and its json module; waga-journal backup read back by SQLite; the tool's arguments in one
table. The journal file is made here by SQLite itself, as any process may write it, including
rows the export must leave out (gap) or refuse to make sense of (an unknown kind, wrong types,
NULLs): those are told. (A spreadsheet's view of the exports: spreadsheet_test.py.)"""

import base64
import csv
import io
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

TOOL = None

SCHEMA = """
CREATE TABLE schema_version(version INTEGER NOT NULL);
INSERT INTO schema_version VALUES(1);
CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms INTEGER NOT NULL,
  last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL, raw BLOB NOT NULL,
  value REAL, unit TEXT NOT NULL, port TEXT NOT NULL);
CREATE INDEX lines_first_ms ON lines(first_ms);
"""

# 2026-12-07 10:40:00.123 in Warsaw (UTC+1) is 09:40:00.123 UTC.
T0 = 1796636400123

ROWS = [
    # seq, kind, first, last, count, text, raw, value, unit, port
    (10, "reading", T0, T0 + 1500, 7, "12,5", b"  12,5", 12.5, "kg", "COM2"),
    (11, "report", T0 + 2000, T0 + 2000, 1, "Ważenie; \"łąka\"", "Wa\u017cenie; \"\u0142\u0105ka\"".encode("cp1250"), None, "kg", "COM2"),
    (12, "gap", T0 + 2500, T0 + 2600, 40, "Pominięte wiersze", b"", None, "", "COM2"),
    (13, "reading", T0 + 3000, T0 + 3000, 1, "-0,25", b"-0,25", -0.25, "kg", "COM2"),
    (15, "report", T0 + 4000, T0 + 4000, 1, "dwie\nlinie", b"dwie\x00\xff\x01", None, "t", "COM4"),
    (16, "reading", T0 + 86400000, T0 + 86400000, 1, "1e3", b"1e3", 1000.0, "kg", "COM1"),
]


def make_journal(folder, schema=SCHEMA, rows=ROWS):
    path = os.path.join(folder, "dziennik.sqlite")
    db = sqlite3.connect(path)
    db.executescript(schema)
    db.executemany("INSERT INTO lines VALUES(?,?,?,?,?,?,?,?,?,?)", rows)
    db.commit()
    db.close()
    return path


# A station key of the tests' own (the format doc/evidence.md states): exports to a file are
# signed with it, whatever the machine's user has.
CONFIG = tempfile.TemporaryDirectory()
os.mkdir(os.path.join(CONFIG.name, "waga"))
with open(os.open(os.path.join(CONFIG.name, "waga", "klucz-stacji"),
                  os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w") as key:
    key.write("waga-klucz-stacji 1 " + os.urandom(32).hex() + "\n")


def run(*args, tz="Europe/Warsaw"):
    env = dict(os.environ, TZ=tz, LANG="C", XDG_CONFIG_HOME=CONFIG.name)
    return subprocess.run([TOOL, *args], capture_output=True, env=env, timeout=60)


class CsvExport(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = make_journal(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def export(self, *args):
        out = run("export", "--journal", self.path, *args)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(out.stdout.startswith(b"\xef\xbb\xbf"), "UTF-8 byte-order mark")
        text = out.stdout.decode("utf-8-sig")
        return list(csv.reader(io.StringIO(text, newline=""), delimiter=";"))

    def test_header_rows_and_formats(self):
        table = self.export()
        self.assertEqual(table[0], ["Od", "Do", "Liczba", "Rodzaj", "Tekst", "Wartość",
                                    "Jednostka", "Port"])
        body = table[1:]
        # gap rows are left out; the rest in time order
        self.assertEqual([r[3] for r in body], ["odczyt", "raport", "odczyt", "raport", "odczyt"])
        self.assertEqual(body[0][:3], ["2026-12-07T10:40:00.123", "2026-12-07T10:40:01.623", "7"])
        self.assertEqual(body[0][4:], ["12,5", "12,5", "kg", "COM2"])
        self.assertEqual(body[1][4], "Ważenie; \"łąka\"")
        self.assertEqual(body[1][5], "")
        self.assertEqual(body[2][5], "-0,25")
        self.assertEqual(float(body[2][5].replace(",", ".")), -0.25)
        self.assertEqual(body[3][4], "dwie\nlinie")
        self.assertEqual(body[4][0], "2026-12-08T10:40:00.123")
        self.assertEqual(body[4][5], "1000")

    def test_kind_and_range(self):
        cases = [
            (["--kind", "readings"], ["12,5", "-0,25", "1e3"]),
            (["--kind", "reports"], ["Ważenie; \"łąka\"", "dwie\nlinie"]),
            (["--from", "2026-12-08"], ["1e3"]),
            (["--to", "2026-12-07"], ["12,5", "Ważenie; \"łąka\"", "-0,25", "dwie\nlinie"]),
            (["--from", "2026-12-07T10:40:02", "--to", "2026-12-07T10:40:04"],
             ["Ważenie; \"łąka\"", "-0,25"]),
            # a run that began before the range and lasts into it belongs to it
            (["--from", "2026-12-07T10:40:01", "--to", "2026-12-07T10:40:02"], ["12,5"]),
            (["--from", "2030-01-01"], []),
        ]
        for args, texts in cases:
            with self.subTest(args=args):
                self.assertEqual([r[4] for r in self.export(*args)[1:]], texts)

    def test_time_zone_far_east(self):
        out = run("export", "--journal", self.path, tz="Pacific/Kiritimati")
        rows = list(csv.reader(io.StringIO(out.stdout.decode("utf-8-sig"), newline=""),
                               delimiter=";"))
        self.assertEqual(rows[1][0], "2026-12-07T23:40:00.123")


class Decimals(unittest.TestCase):
    """Wartość keeps the decimals the scale sent, read from the stored bytes (rows written
    before this was known included); JSON keeps the value and tells the decimals."""

    CASES = [
        # raw bytes, stored value, CSV Wartość, JSON decimals
        (b" 17.70", 17.7, "17,70", 2),
        (b"100.00", 100.0, "100,00", 2),
        (b" 0.00", 0.0, "0,00", 2),
        (b" -0,250", -0.25, "-0,250", 3),
        (b"+48 123 456", 48123456.0, "48123456", 0),
        (b"1,5E3", 1500.0, "1500", None),
        (b"0,1234567890123456789", 0.12345678901234568, "0,12345678901234568", None),
        (b"nie liczba", 7.5, "7,5", None),
    ]

    def test_table(self):
        rows = [(i, "reading", T0 + i, T0 + i, 1, raw.decode("cp1250"), raw, value, "kg", "COM2")
                for i, (raw, value, _, _) in enumerate(self.CASES, 1)]
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder, rows=rows)
            out = run("export", "--journal", path)
            self.assertEqual(out.returncode, 0, out.stderr)
            lines = out.stdout.decode("utf-8-sig").split("\r\n")[1:-1]
            data = json.loads(run("export", "--journal", path, "--format", "json").stdout)
            for (raw, value, shown, decimals), line, obj in zip(self.CASES, lines, data):
                with self.subTest(raw=raw):
                    # every field quoted: an import splitting at commas keeps it whole
                    self.assertEqual(line.split(";")[5], f'"{shown}"')
                    self.assertEqual((obj["value"], obj["decimals"]), (value, decimals))


class JsonExport(unittest.TestCase):
    def test_objects(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            out = run("export", "--journal", path, "--format", "json")
            self.assertEqual(out.returncode, 0, out.stderr)
            data = json.loads(out.stdout.decode("utf-8"))
            self.assertEqual([o["seq"] for o in data], [10, 11, 13, 15, 16])
            first = data[0]
            self.assertEqual(sorted(first), sorted(["seq", "kind", "first", "last", "count", "text",
                                                    "value", "decimals", "unit", "port",
                                                    "bytes"]))
            self.assertEqual(first["kind"], "reading")
            self.assertEqual(first["first"], "2026-12-07T10:40:00.123+01:00")
            self.assertEqual(first["last"], "2026-12-07T10:40:01.623+01:00")
            self.assertEqual(first["count"], 7)
            self.assertEqual(first["value"], 12.5)
            self.assertIsNone(data[1]["value"])
            self.assertEqual(data[1]["kind"], "report")
            for obj, row in zip(data, [r for r in ROWS if r[1] in ("reading", "report")]):
                self.assertEqual(base64.b64decode(obj["bytes"]), row[6])
                self.assertEqual(obj["text"], row[5])

    def test_empty_journal_is_an_empty_array(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder, rows=[])
            out = run("export", "--journal", path, "--format", "json")
            self.assertEqual(json.loads(out.stdout), [])


class Arguments(unittest.TestCase):
    """The tool's arguments: help on standard output with status 0, every mistake a Polish
    message on standard error with status 2 and nothing on standard output."""

    def test_table(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            out = os.path.join(folder, "wynik")
            cases = [
                # arguments, status, on standard output, on standard error
                (["--help"], 0, "waga-journal export --help", ""),
                (["-h"], 0, "Kod wyjścia", ""),
                (["export", "--help"], 0, "--format csv|json|xlsx", ""),
                (["export", "--from", "2026-12-07", "--help"], 0, "kolumnom Rodzaj, Tekst, Jednostka", ""),
                (["backup", "--help"], 0, "Użycie: waga-journal backup PLIK", ""),
                ([], 2, "", "Nie podano polecenia."),
                (["eksport"], 2, "", "Nieznane polecenie: eksport"),
                (["export", "--kolor", "x"], 2, "", "Nieznana opcja polecenia export: --kolor"),
                (["export", "--kind", "all", "--kind", "reports"], 2, "",
                 "Opcja --kind podana więcej niż raz."),
                (["export", "--journal", path, "--journal", path], 2, "", "podana więcej niż raz"),
                (["export", "--from"], 2, "", "Brak wartości opcji --from."),
                (["export", "--from", "7.12.2026"], 2, "",
                 "Niepoprawny czas w --from: „7.12.2026”. Oczekiwany format: RRRR-MM-DD, "
                 "RRRR-MM-DDTgg:mm lub RRRR-MM-DDTgg:mm:ss"),
                (["export", "--to", "2026-12-07 10:00"], 2, "", "Oczekiwany format"),
                (["export", "--kind", "all-ish"], 2, "", "Niepoprawny rodzaj w --kind: „all-ish”"),
                (["export", "--format", "xls"], 2, "", "(csv, json lub xlsx)"),
                (["export", "--format", "xlsx"], 2, "", "podaj --output PLIK.xlsx"),
                (["export", "--from", "2026-12-08", "--to", "2026-12-07"], 2, "",
                 "Początek zakresu (--from) nie jest przed końcem (--to)."),
                (["backup"], 2, "", "Polecenie backup wymaga nazwy pliku kopii"),
                (["backup", "--journal", "x"], 2, "", "wymaga nazwy pliku kopii"),
                (["backup", "k.sqlite", "--kind", "all"], 2, "",
                 "Nieznana opcja polecenia backup: --kind"),
                (["export", "--journal", os.path.join(folder, "brak.sqlite")], 1, "",
                 "Nie ma pliku dziennika"),
                (["export", "--journal", path, "--output", os.path.join(folder, "brak", "x.csv")],
                 1, "", "Nie można zapisać pliku"),
                (["export", "--journal", path, "--format", "xlsx", "--output",
                  os.path.join(folder, "brak", "x.xlsx")], 1, "", "Nie można zapisać pliku"),
                (["export", "--journal", path, "--format", "json", "--output", out], 0, "", ""),
            ]
            for args, status, stdout, stderr in cases:
                with self.subTest(args=args):
                    result = run(*args)
                    self.assertEqual(result.returncode, status, result.stderr.decode())
                    self.assertIn(stdout, result.stdout.decode())
                    if stdout == "":
                        self.assertEqual(result.stdout, b"")
                    self.assertIn(stderr, result.stderr.decode())
                    if stderr == "":
                        self.assertEqual(result.stderr, b"")
            # --output holds what standard output gets
            self.assertEqual(open(out, "rb").read(),
                             run("export", "--journal", path, "--format", "json").stdout)

    def test_a_failed_write_is_told(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            for fmt in ("csv", "json"):
                with open("/dev/full", "wb") as full, self.subTest(format=fmt):
                    result = subprocess.run([TOOL, "export", "--journal", path, "--format", fmt],
                                            stdout=full, stderr=subprocess.PIPE, timeout=60,
                                            env=dict(os.environ, LANG="C"))
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("Nie można zapisać wyniku na standardowe wyjście",
                                  result.stderr.decode())

    def test_a_journal_in_a_folder_it_cannot_write_is_read(self):
        # The program closed it cleanly: no -wal, no -shm beside it. The tool runs as another
        # user (as root) or the folder is made read-only (elsewhere).
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            db = sqlite3.connect(path)
            db.execute("PRAGMA journal_mode=WAL")
            db.close()
            self.assertEqual(sorted(os.listdir(folder)), ["dziennik.sqlite"])
            os.chmod(folder, 0o555)
            # Another user may not reach the build tree (a checkout in a private folder): it
            # runs a copy of the tool from a folder it can reach.
            with tempfile.TemporaryDirectory() as tools:
                os.chmod(tools, 0o755)
                tool = shutil.copy(TOOL, tools)
                try:
                    user = {"user": 65534} if os.geteuid() == 0 else {}
                    result = subprocess.run([tool, "export", "--journal", path],
                                            capture_output=True, timeout=60,
                                            env=dict(os.environ, LANG="C"), **user)
                finally:
                    os.chmod(folder, 0o755)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            rows = list(csv.reader(io.StringIO(result.stdout.decode("utf-8-sig"), newline=""),
                                   delimiter=";"))
            self.assertEqual(len(rows), 6)
            self.assertEqual(sorted(os.listdir(folder)), ["dziennik.sqlite"])


class Faults(unittest.TestCase):
    def test_missing_or_hostile_files(self):
        with tempfile.TemporaryDirectory() as folder:
            out = run("export", "--journal", os.path.join(folder, "brak.sqlite"))
            self.assertEqual(out.returncode, 1)
            garbage = os.path.join(folder, "zly.sqlite")
            with open(garbage, "wb") as f:
                f.write(b"not a database" * 100)
            self.assertEqual(run("export", "--journal", garbage).returncode, 1)

    def test_rows_that_make_no_sense_are_told_never_changed(self):
        # A hand-edited copy without the constraints: each row has one fault, and says which.
        loose = """CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind, first_ms, last_ms, count, text,
                   raw, value, unit, port);"""
        good = ("report", 1, 1, 1, "a", b"a", None, "kg", "COM1")
        cases = [
            ((2, "zzz") + good[1:], "wiersz 2: nieznany rodzaj „zzz”"),
            ((3, None) + good[1:], "wiersz 3: brak wartości w kolumnie kind"),
            ((4, "report", 1, "x") + good[3:], "wiersz 4: kolumna last_ms ma wartość „x”"),
            ((5, "report", 1, 1, -5) + good[4:], "wiersz 5: liczba linii -5"),
            ((6, "report", 1, 1, 1, b"\xff\xfe") + good[5:], "wiersz 6: kolumna text"),
            ((7, "report", 1, 1, 1, None) + good[5:], "wiersz 7: brak wartości w kolumnie text"),
            ((8, "report", 1, 1, 1, "a", "tekst") + good[6:], "wiersz 8: kolumna raw"),
            ((9, "reading", 1, 1, 1, "a", b"a", 1e308 * 10, "kg", "COM1"),
             "wiersz 9: kolumna value: „inf” nie jest liczbą skończoną"),
            ((10, "reading", 1, 1, 1, "a", b"a", "abc", "kg", "COM1"),
             "wiersz 10: kolumna value ma wartość „abc”"),
            ((11, "report", 1, 1, 1, "a", b"a", None, 7, "COM1"), "wiersz 11: kolumna unit"),
        ]
        rows = [(1,) + good] + [row for row, _ in cases] + [
            # far times, a NaN value (SQLite keeps it as NULL), long texts: all fine
            (12, "reading", 2**62, 2**62, 1, "x" * 100000, b"\x00" * 70000, float("nan"), "kg",
             "COM9")]
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder, loose, rows)
            for fmt in ("csv", "json"):
                out = run("export", "--journal", path, "--format", fmt)
                self.assertEqual(out.returncode, 1, out.stderr)
                told = out.stderr.decode("utf-8")
                for _, why in cases:
                    self.assertIn(why, told)
                self.assertIn("Pominięto wierszy, których nie można odczytać: 10.", told)
            data = json.loads(out.stdout)
            self.assertEqual([o["seq"] for o in data], [1, 12])
            self.assertIn("9999-12-", data[-1]["first"])  # the far end, not an overflow
            self.assertIsNone(data[-1]["value"])


class Backup(unittest.TestCase):
    def test_a_copy_with_every_row_in_one_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            db = sqlite3.connect(path)
            db.execute("PRAGMA journal_mode=WAL")
            db.execute("INSERT INTO lines VALUES(20,'report',1,1,1,'w logu',x'61',NULL,'','COM1')")
            db.commit()  # the row is in the write-ahead log, which stays open beside
            copy = os.path.join(folder, "kopia zapasowa ł.sqlite")
            for _ in range(2):  # the second replaces the first
                out = run("backup", copy, "--journal", path)
                self.assertEqual(out.returncode, 0, out.stderr)
            db.close()
            self.assertEqual(os.listdir(folder).count("kopia zapasowa ł.sqlite-wal"), 0)
            backup = sqlite3.connect(copy)
            self.assertEqual(backup.execute("PRAGMA journal_mode").fetchone()[0], "delete")
            self.assertEqual(backup.execute("PRAGMA integrity_check").fetchone()[0], "ok")
            self.assertEqual([r[0] for r in backup.execute("SELECT seq FROM lines ORDER BY seq")],
                             [r[0] for r in ROWS] + [20])

    def test_refusals(self):
        with tempfile.TemporaryDirectory() as folder:
            path = make_journal(folder)
            for target in (path, path + "-wal", os.path.join(folder, "brak", "kopia.sqlite")):
                with self.subTest(target=target):
                    out = run("backup", target, "--journal", path)
                    self.assertEqual(out.returncode, 1)
                    self.assertNotEqual(out.stderr, b"")
            with open(path, "rb") as f:
                self.assertTrue(f.read(16).startswith(b"SQLite format 3"))
            self.assertEqual(run("backup", "x.sqlite", "--journal",
                                 os.path.join(folder, "brak.sqlite")).returncode, 1)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
