#!/usr/bin/python3
"""What the office opens. Awkward lines go from a simulated scale through the program into the
journal; waga-journal exports them as CSV and as XLSX; LibreOffice Calc, headless under the
Polish locale, opens each (the CSV with the import options doc/journal.md names, and with Calc's
default import, which splits at commas and tabs too) and saves it as XLSX; openpyxl reads the
cells back. Numbers must be numbers shown with the decimals received, times date-times, texts
exactly the lines sent (a CSV text a spreadsheet would take for a formula carries the leading
apostrophe that keeps it a text), and no cell a formula. Run by Debian's python3, which has
python3-openpyxl.

  spreadsheet_test.py PROJECT1 SCALE_SIM WAGA_JOURNAL
"""

import csv
import datetime
import os
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
import zoneinfo

import openpyxl

PROGRAM = SIM = TOOL = None
ZONE = "Europe/Warsaw"

# Lines a spreadsheet would run or mangle, as the scale sends them. Which of them the program
# takes for readings (" 7.5", "0012345", "+48 123 456 789", ...) is its own rule: the cells are
# checked against the journal's rows.
LINES = [
    "=SUMA(1;2)",
    "=1+1",
    "+48 123 456 789",
    "-2+3+cmd|' /C calc'!A0",
    "@SUMA(A1:A2)",
    "================================",
    "\tz tabulatorem",
    " 7.5",
    "  1.08",
    "0012345",
    "-0,25",
    "Ważenie nr 7: żółta łąka, 1500 kg",
    'Klient; "Kowalski" sp. z o.o.; "a;b"',
    "12,5",
    " 17.70",
    "100.00",
    " 0.00",
    "a_x005F_b _x003D_ _X0041_",
]
# The number format of each reading's Wartość in the XLSX: the decimals as received.
DECIMALS = {" 7.5": "0.0", "  1.08": "0.00", "0012345": "0", "-0,25": "0.00", "12,5": "0.0",
            "+48 123 456 789": "0", " 17.70": "0.00", "100.00": "0.00", " 0.00": "0.00"}
# The import doc/journal.md names: ';' only, the text columns (Rodzaj, Tekst, Jednostka, Port) typed
# as text, the rest standard, special numbers detected, no formulas evaluated.
CSV_OPTIONS = "59,34,76,1,1/1/2/1/3/1/4/2/5/2/6/1/7/2/8/2,1045,false,true,false,false,false,-1,false"
# Calc's own defaults: comma, semicolon and tab all separate, quoted fields are not text, special
# numbers are detected; with formulas evaluated or not.
DEFAULT_OPTIONS = ["44/59/9,34,76,1,,1045,false,true,false,false,false,-1," + evaluate
                   for evaluate in ("false", "true")]
COLUMNS = ["Od", "Do", "Liczba", "Rodzaj", "Tekst", "Wartość", "Jednostka", "Port"]


def formula_like(text):
    """What the CSV marks with an apostrophe: a text a spreadsheet would run."""
    if text[:1] in ("=", "@", "\t", "\r"):
        return True
    return text[:1] in ("+", "-") and not re.fullmatch(r"[+-]\d+([.,]\d+)?", text)


def unescape(text):
    """A cell's text as a spreadsheet shows it: "_xHHHH_" is the character HHHH."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text)


def run(args, cwd, timeout=120, **env):
    full = dict(os.environ, TZ=ZONE, LANG="pl_PL.UTF-8", LC_ALL="pl_PL.UTF-8", **env)
    out = subprocess.run(args, cwd=cwd, env=full, capture_output=True, timeout=timeout)
    if out.returncode != 0:
        raise AssertionError(f"{args[0]} ended with {out.returncode}: {out.stderr.decode()}")
    return out


class Office(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="biuro ł ")
        folder = cls.work = os.path.join(cls.dir.name, "praca wagi")
        os.mkdir(folder)
        lines_file = os.path.join(cls.dir.name, "linie.txt")
        with open(lines_file, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in LINES))
        runtime = os.path.join(cls.dir.name, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, TZ=ZONE, LANG="pl_PL.UTF-8", QT_QPA_PLATFORM="offscreen",
                   XDG_RUNTIME_DIR=runtime)
        sim = subprocess.Popen([SIM, "--link", os.path.join(folder, "COM2"), "--lines", lines_file,
                                "--rate", "20", "--report-every", "0", "--wait-open", "--quiet"],
                               env=env)
        for _ in range(100):
            if os.path.lexists(os.path.join(folder, "COM2")):
                break
            time.sleep(0.05)
        program = subprocess.Popen([PROGRAM], cwd=folder, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        try:
            sim.wait(timeout=60)
            cls.rows = cls.wait_for_rows(os.path.join(folder, "dziennik.sqlite"), len(LINES))
        finally:
            program.send_signal(signal.SIGTERM)
            output = program.communicate(timeout=60)[0]
            if sim.poll() is None:
                sim.kill()
                sim.wait()
        if program.returncode != 0:
            raise AssertionError(f"the program ended with {program.returncode}: {output!r}")

        journal = os.path.join(folder, "dziennik.sqlite")
        cls.csv = os.path.join(cls.dir.name, "dziennik.csv")
        with open(cls.csv, "wb") as f:
            f.write(run([TOOL, "export", "--journal", journal], folder).stdout)
        cls.xlsx = os.path.join(cls.dir.name, "dziennik.xlsx")
        run([TOOL, "export", "--journal", journal, "--format", "xlsx", "--output", cls.xlsx],
            folder)
        cls.opened_csv = cls.calc(cls.csv, "CSV:" + CSV_OPTIONS, "z-csv")
        cls.opened_default = [cls.calc(cls.csv, "CSV:" + options, f"z-csv-{n}")
                              for n, options in enumerate(DEFAULT_OPTIONS)]
        cls.opened_xlsx = cls.calc(cls.xlsx, None, "z-xlsx")

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    @staticmethod
    def wait_for_rows(journal, count):
        deadline = time.monotonic() + 60
        while True:
            try:
                db = sqlite3.connect(f"file:{journal}?mode=ro", uri=True)
                rows = db.execute("SELECT first_ms, last_ms, count, kind, text, value, unit, port"
                                  " FROM lines ORDER BY seq").fetchall()
                db.close()
                if len(rows) >= count:
                    return rows
            except sqlite3.Error:
                pass  # not made yet
            if time.monotonic() > deadline:
                raise AssertionError(f"the journal did not get {count} rows")
            time.sleep(0.1)

    @classmethod
    def calc(cls, path, infilter, name, to="xlsx"):
        """LibreOffice Calc opens `path` and saves it as XLSX; returns the sheet (or, `to` CSV,
        the rows)."""
        profile = os.path.join(cls.dir.name, "profil-lo")
        out = os.path.join(cls.dir.name, name)
        args = ["soffice", "-env:UserInstallation=file://" + profile.replace(" ", "%20"),
                "--headless", "--norestore"]
        if infilter:
            args.append("--infilter=" + infilter)
        args += ["--convert-to", to, "--outdir", out, path]
        started = time.monotonic()
        run(args, cls.dir.name, timeout=300)
        print(f"LibreOffice: {os.path.basename(path)} opened and saved in "
              f"{time.monotonic() - started:.1f} s", file=sys.stderr)
        made = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + "." +
                            to.split(":")[0])
        if to != "xlsx":
            with open(made, encoding="utf-8", newline="") as f:
                return list(csv.reader(f))
        return openpyxl.load_workbook(made).worksheets[0]

    def expected_time(self, ms):
        local = datetime.datetime.fromtimestamp(ms / 1000, zoneinfo.ZoneInfo(ZONE))
        return local.replace(tzinfo=None)

    def check_sheet(self, sheet, text_of, formats=False):
        cells = list(sheet.iter_rows())
        self.assertEqual([c.value for c in cells[0]], COLUMNS)
        self.assertEqual(len(cells) - 1, len(LINES))
        self.assertEqual(sheet.max_column, len(COLUMNS), "a row spilled into a ninth column")
        for row in cells:
            for cell in row:
                self.assertNotEqual(cell.data_type, "f", f"{cell.coordinate} is a formula")
        for line, journal, row in zip(LINES, self.rows, cells[1:]):
            value = journal[5]
            with self.subTest(line=line):
                od, do, count, kind, text, number, unit, port = (c.value for c in row)
                if formats and value is not None:
                    self.assertEqual(row[5].number_format, DECIMALS[line])
                for got, ms in ((od, journal[0]), (do, journal[1])):
                    self.assertIsInstance(got, datetime.datetime)
                    # to the millisecond (a date-time is a fraction of a day in the file)
                    difference = (got - self.expected_time(ms)).total_seconds()
                    self.assertEqual(round(difference * 1000), 0, f"{got} for {ms}")
                self.assertIsInstance(count, int)
                self.assertEqual(count, 1)
                self.assertEqual(kind, {"reading": "odczyt", "report": "raport"}[journal[3]])
                # Calc's own XLSX writer leaves a text's "_xHHHH_" unescaped, so openpyxl
                # cannot read that line back from it: test_xlsx_in_calc_shows_every_text_as_sent
                # reads what Calc shows.
                if text_of is not None and "_x" not in line.lower():
                    self.assertEqual(text, text_of(line))
                if value is None:
                    self.assertIsNone(number)
                else:
                    self.assertIsInstance(number, (int, float))
                    self.assertAlmostEqual(number, value)
                self.assertEqual((unit, port), ("kg", "COM2"))

    def test_the_journal_holds_every_line_sent(self):
        self.assertEqual([r[4] for r in self.rows], LINES)
        readings = {r[4]: r[5] for r in self.rows if r[3] == "reading"}
        for line, value in ((" 7.5", 7.5), ("  1.08", 1.08), ("0012345", 12345), ("-0,25", -0.25)):
            self.assertEqual(readings.get(line), value, line)

    def test_xlsx_in_calc_holds_typed_cells_and_the_exact_lines(self):
        self.check_sheet(self.opened_xlsx, lambda line: line, formats=True)

    def test_xlsx_in_calc_shows_every_text_as_sent(self):
        shown = self.calc(self.xlsx, None, "z-xlsx-csv", to="csv:Text - txt - csv (StarCalc):"
                          "44,34,76,1,,1045,false,true,true")
        self.assertEqual([row[4] for row in shown[1:]], LINES)

    def test_xlsx_shows_the_decimals_received(self):
        self.check_sheet(openpyxl.load_workbook(self.xlsx).worksheets[0], None, formats=True)

    def test_csv_in_calc_default_import_keeps_eight_columns_numbers_and_times(self):
        # Texts that look like numbers or dates are the default import's own to convert.
        for sheet in self.opened_default:
            self.check_sheet(sheet, None)

    def test_csv_in_calc_runs_and_mangles_no_cell(self):
        self.check_sheet(self.opened_csv, lambda line: "'" + line if formula_like(line) else line)

    def test_xlsx_header_is_bold_and_frozen_and_columns_fit(self):
        sheet = openpyxl.load_workbook(self.xlsx).worksheets[0]
        self.assertEqual(sheet.freeze_panes, "A2")
        self.assertTrue(all(cell.font.bold for cell in sheet[1]))
        self.assertEqual(sheet["A2"].number_format, "yyyy-mm-dd hh:mm:ss.000")
        for column in sheet.iter_cols():
            letter = column[0].column_letter
            widest = max(len(unescape(str(c.value))) for c in column if c.value is not None)
            width = sheet.column_dimensions[letter].width
            with self.subTest(column=column[0].value):
                self.assertGreaterEqual(width, min(widest, 80) if letter not in "AB" else 23)
                self.assertLessEqual(width, 90)


if __name__ == "__main__":
    PROGRAM, SIM, TOOL = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
