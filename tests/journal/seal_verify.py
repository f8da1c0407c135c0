#!/usr/bin/env python3
"""Checks the seal of a weighing journal (dziennik.sqlite), format version 1, as doc/evidence.md
states it, with Python's hashlib and sqlite3 and PyNaCl (Debian's python3-nacl) alone: no code of
the program is used.

    seal_verify.py JOURNAL [--key FINGERPRINT]

Prints one line per finding ("seq N: ...") and exits 0 intact, 1 on a finding, 2 when the file
cannot be read."""

import hashlib
import sqlite3
import struct
import sys

from nacl.exceptions import BadSignatureError
from nacl.signing import VerifyKey

COLUMNS = "seq, kind, first_ms, last_ms, count, text, raw, value, unit, port"
TYPES = {b"null": 0, b"integer": 1, b"real": 2, b"text": 3, b"blob": 4}  # text_factory: bytes


def field(kind, value):
    if kind == b"null":
        content = b""
    elif kind == b"integer":
        content = struct.pack(">q", value)
    elif kind == b"real":
        content = struct.pack(">d", value)
    else:
        content = bytes(value)
    return bytes([TYPES[kind]]) + struct.pack(">I", len(content)) + content


def link(previous, previous_seq, row):
    data = b"\x01" + previous + struct.pack(">q", previous_seq)
    data += b"".join(field(kind, value) for kind, value in row)
    return hashlib.sha256(data).digest()


def check(path, expected_key):
    findings = []
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    db.text_factory = bytes
    db.execute("BEGIN")
    typed = ", ".join(f"typeof({c}), {c}" for c in COLUMNS.split(", "))
    rows = db.execute(f"SELECT {typed} FROM lines ORDER BY seq").fetchall()
    tables = {t for (t,) in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
    if not {b"seals", b"seal_head"} <= tables:
        return [(0, "no seal tables")], len(rows)
    head = db.execute("SELECT version, public_key, base_seq, base_prev_seq, base_prev, head_seq,"
                      " head_link, unsealed, signed_ms, signature FROM seal_head").fetchall()
    seals = {seq: (prev, lnk) for seq, prev, lnk in db.execute("SELECT * FROM seals")}
    if len(head) != 1:
        return [(0, "no signed head")], len(rows)
    (version, key, base, base_prev_seq, base_prev, head_seq, head_link, unsealed, signed_ms,
     signature) = head[0]
    fingerprint = hashlib.sha256(key).digest()
    message = (b"\x01" + fingerprint + struct.pack(">qq", base, base_prev_seq) + base_prev +
               struct.pack(">q", head_seq) + head_link + struct.pack(">qq", unsealed, signed_ms))
    try:
        if version != 1:
            raise BadSignatureError("version")
        VerifyKey(key).verify(message, signature)
    except (BadSignatureError, ValueError):
        findings.append((head_seq, "the head's signature does not match"))
    if expected_key and fingerprint.hex() != expected_key:
        findings.append((head_seq, f"signed by key {fingerprint.hex()}, not {expected_key}"))
    below = sum(1 for r in rows if r[1] < base)
    if below != unsealed:
        findings.append((base, f"{below} rows below the base, the head says {unsealed}"))
    chain = [[(r[2 * i], r[2 * i + 1]) for i in range(10)] for r in rows if base <= r[1] <= head_seq]
    for r in rows:
        if r[1] > head_seq:
            findings.append((r[1], "row after the signed head"))
    present = {row[0][1] for row in chain}
    for seq in seals:
        if base <= seq <= head_seq and seq not in present:
            findings.append((seq, "row deleted, its seal left"))
    if not chain or chain[0][0][1] != base:
        findings.append((base, "the oldest sealed row is missing"))
    # The links as the rows give them, from the signed base on, and each against its seal.
    previous, previous_seq = base_prev, base_prev_seq
    pure = base_prev  # the links from the rows alone, never from a stored seal
    for row in chain:
        seq = row[0][1]
        computed = link(previous, previous_seq, row)
        pure = link(pure, previous_seq, row)
        prev, stored = seals.get(seq, (None, None))
        if stored is None:
            findings.append((seq, "row without a seal"))
        elif prev != previous_seq:
            findings.append((seq, f"the seal follows seq {prev}, the row before is {previous_seq}"))
        elif stored != computed:
            findings.append((seq, "row does not match its seal"))
        previous, previous_seq = stored or computed, seq
    if chain and (previous_seq != head_seq or pure != head_link):
        findings.append((head_seq, "the chain does not end at the signed head"))
    return findings, len(rows)


def main():
    args = sys.argv[1:]
    key = None
    if len(args) == 3 and args[1] == "--key":
        key = args[2].lower()
    elif len(args) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        findings, rows = check(args[0], key)
    except sqlite3.Error as error:
        print(f"cannot read {args[0]}: {error}", file=sys.stderr)
        return 2
    for seq, text in findings:
        print(f"seq {seq}: {text}")
    print(f"{rows} rows, {'intact' if not findings else f'{len(findings)} findings'}")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
