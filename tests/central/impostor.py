#!/usr/bin/env python3
"""A server posing as the central PostgreSQL, for the tests: it speaks just enough of the
protocol to look like the real one, skips authentication and accepts every statement.

  impostor.py certs DIR
      Makes DIR/ca.crt (the CA the station trusts) and, from that CA, right.crt (127.0.0.1),
      other-name.crt (inny.example) and expired.crt (127.0.0.1, expired yesterday), plus
      self-signed.crt (127.0.0.1, from no CA); each NAME.crt with NAME.key.
  impostor.py serve CERT KEY [--ask-password]
      Listens on 127.0.0.1 (a free port, printed as the first line), takes TLS when asked with
      CERT, answers AuthenticationOk at once (or, with --ask-password, asks for the password in
      clear first), then answers every simple query, statement by statement, and every
      statement of the extended protocol: a SELECT (or an EXECUTE) gets one row (a count of what
      the last COPY brought, or of the elements of the second parameter when that is a binary
      array, when it asks for one), a COPY takes its data (binary), anything else succeeds.
      Prints what it receives, one line each: TLS, TLS-FAILED <why>, STARTUP <user>, PASSWORD
      <text>, QUERY <statement>, COPY-DATA <bytes>, QUERY-UNANSWERED <message> (one it does not
      know). Runs until killed.
"""
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading

SSL_REQUEST = 80877103
GSSENC_REQUEST = 80877104
CANCEL_REQUEST = 80877102
PROTOCOL_3 = 196608
TEXT_OID = 25

print_lock = threading.Lock()


def say(line):
    with print_lock:
        print(line.replace("\n", " ")[:500], flush=True)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_certs(folder):
    os.makedirs(folder, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", *ec, "-keyout", path("ca.key"), "-out", path("ca.crt"), "-days", "30",
            "-subj", "/CN=impostor test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-x509", *ec, "-keyout", path("self-signed.key"), "-out",
            path("self-signed.crt"), "-days", "30", "-subj", "/CN=127.0.0.1", "-addext",
            "subjectAltName=IP:127.0.0.1")
    for name, host, days in [("right", "IP:127.0.0.1", "30"),
                             ("other-name", "DNS:inny.example", "30"),
                             ("expired", "IP:127.0.0.1", "-1")]:
        openssl("req", "-new", *ec, "-keyout", path(name + ".key"), "-out", path(name + ".csr"),
                "-subj", "/CN=" + host.split(":", 1)[1])
        with open(path(name + ".ext"), "w") as ext:
            ext.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\n" % host)
        openssl("x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.crt"), "-CAkey",
                path("ca.key"), "-set_serial", str(int.from_bytes(os.urandom(8), "big")),
                "-days", days, "-extfile", path(name + ".ext"), "-out", path(name + ".crt"))


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def message(kind, body=b""):
    return kind + struct.pack("!I", len(body) + 4) + body


def cstring(text):
    return text.encode() + b"\0"


def binary_copy_rows(data):
    """The rows in COPY's binary format: the header, then a field count and the fields of each
    row, until a field count of -1."""
    at = 11 + 4
    extension = struct.unpack("!I", data[at:at + 4])[0]
    at += 4 + extension
    rows = 0
    while at + 2 <= len(data):
        fields = struct.unpack("!h", data[at:at + 2])[0]
        at += 2
        if fields < 0:
            break
        for _ in range(fields):
            length = struct.unpack("!i", data[at:at + 4])[0]
            at += 4 + max(length, 0)
        rows += 1
    return rows


def row_answer(query, copied):
    """One row of one text column: enough for what a client asks on connecting and after."""
    lowered = query.lower()
    if "count(*)" in lowered or lowered.startswith("execute"):
        value = str(copied)
    elif "version()" in lowered:
        value = "PostgreSQL 15.0 on x86_64-pc-linux-gnu"
    elif "to_regclass" in lowered:
        value = "t"
    elif "from schema_version" in lowered:
        value = "2"  # central/schema.sql's version (kCentralSchemaVersion)
    else:
        value = "1"
    description = struct.pack("!H", 1) + cstring("x") + struct.pack("!IHIhiH", 0, 0, TEXT_OID,
                                                                    -1, -1, 0)
    data = value.encode()
    return (message(b"T", description) + message(b"D", struct.pack("!HI", 1, len(data)) + data)
            + message(b"C", cstring("SELECT 1")))


def array_length(value):
    """The elements of a one-dimensional array in binary form; 0 for anything else."""
    if value is None or len(value) < 20 or struct.unpack("!i", value[:4])[0] != 1:
        return 0
    return struct.unpack("!i", value[12:16])[0]


def bind_values(body):
    """The parameters of a Bind message (None for NULL)."""
    at = body.index(b"\0") + 1
    at = body.index(b"\0", at) + 1
    formats = struct.unpack("!h", body[at:at + 2])[0]
    at += 2 + 2 * formats
    count = struct.unpack("!h", body[at:at + 2])[0]
    at += 2
    values = []
    for _ in range(count):
        length = struct.unpack("!i", body[at:at + 4])[0]
        at += 4
        values.append(None if length < 0 else body[at:at + length])
        at += max(length, 0)
    return values


def command_tag(query):
    words = query.strip().split()
    first = words[0].upper() if words else ""
    if first == "INSERT":
        return "INSERT 0 1"
    if first in ("UPDATE", "DELETE"):
        return first + " 1"
    return first or "EMPTY"


class Session:
    def __init__(self, conn, context, ask_password):
        self.conn = conn
        self.context = context
        self.ask_password = ask_password
        self.status = b"I"
        self.copied = 0  # rows of the last COPY

    def send(self, data):
        self.conn.sendall(data)

    def read_message(self):
        kind = read_exact(self.conn, 1)
        length = struct.unpack("!I", read_exact(self.conn, 4))[0]
        return kind, read_exact(self.conn, length - 4)

    def startup(self):
        while True:
            length = struct.unpack("!I", read_exact(self.conn, 4))[0]
            body = read_exact(self.conn, length - 4)
            code = struct.unpack("!I", body[:4])[0]
            if code == SSL_REQUEST:
                self.send(b"S")
                try:
                    self.conn = self.context.wrap_socket(self.conn, server_side=True)
                except (ssl.SSLError, OSError) as error:
                    say("TLS-FAILED %s" % error)
                    return False
                say("TLS")
            elif code == GSSENC_REQUEST:
                self.send(b"N")
            elif code == PROTOCOL_3:
                fields = body[4:].split(b"\0")
                params = dict(zip(fields[0::2], fields[1::2]))
                say("STARTUP %s" % params.get(b"user", b"").decode(errors="replace"))
                return True
            else:
                return False

    def authenticate(self):
        if self.ask_password:
            self.send(message(b"R", struct.pack("!I", 3)))  # the password in clear, please
            kind, body = self.read_message()
            if kind != b"p":
                return False
            say("PASSWORD %s" % body.rstrip(b"\0").decode(errors="replace"))
        out = message(b"R", struct.pack("!I", 0))
        for key, value in [("server_version", "15.0"), ("server_encoding", "UTF8"),
                           ("client_encoding", "UTF8"), ("DateStyle", "ISO, MDY"),
                           ("integer_datetimes", "on"), ("standard_conforming_strings", "on"),
                           ("TimeZone", "UTC"), ("IntervalStyle", "postgres")]:
            out += message(b"S", cstring(key) + cstring(value))
        out += message(b"K", struct.pack("!II", os.getpid(), 12345))
        self.send(out + message(b"Z", b"I"))
        return True

    def answer(self, query):
        say("QUERY %s" % query)
        out = b""
        # Statement by statement (the station's statements hold no ';' inside).
        for statement in [part.strip() for part in query.split(";")]:
            if statement.upper().startswith("COPY"):  # what came before it goes first
                self.send(out)
                out = b""
            if statement:
                out += self.answer_one(statement)
        return out or message(b"I")

    def answer_one(self, query):
        upper = query.upper()
        if upper.startswith("BEGIN") or upper.startswith("START"):
            self.status = b"T"
        elif upper.startswith("COMMIT") or upper.startswith("ROLLBACK") or upper.startswith("END"):
            self.status = b"I"
        if upper.startswith(("SELECT", "SHOW", "WITH", "EXECUTE")):
            return row_answer(query, self.copied)
        if upper.startswith("COPY") and "FROM STDIN" in upper:
            self.send(message(b"G", struct.pack("!bH", 1, 0)))
            data = b""
            while True:
                kind, body = self.read_message()
                if kind == b"d":
                    say("COPY-DATA %r" % body[:200])
                    data += body
                elif kind in (b"c", b"f"):
                    break
            self.copied = binary_copy_rows(data)
            return message(b"C", cstring("COPY %d" % self.copied))
        return message(b"C", cstring(command_tag(query)))

    def serve(self):
        if not self.startup() or not self.authenticate():
            return
        query = ""  # the last parsed statement
        while True:
            kind, body = self.read_message()
            if kind == b"Q":
                self.send(self.answer(body.rstrip(b"\0").decode(errors="replace"))
                          + message(b"Z", self.status))
            elif kind == b"X":
                return
            elif kind == b"P":  # Parse: the statement; its answers come with Execute
                query = body.split(b"\0")[1].decode(errors="replace")
                say("QUERY %s" % query)
                self.send(message(b"1"))
            elif kind == b"B":
                values = bind_values(body)
                if len(values) > 1:
                    self.copied = array_length(values[1])
                self.send(message(b"2"))
            elif kind in (b"D", b"H"):  # Describe, Flush: the row's description comes later
                pass
            elif kind == b"E":
                upper = query.strip().upper()
                if upper.startswith(("SELECT", "SHOW", "WITH")):
                    self.send(row_answer(query, self.copied))
                else:
                    self.send(message(b"n") + message(b"C", cstring(command_tag(query))))
            elif kind == b"S":
                self.send(message(b"Z", self.status))
            else:
                say("QUERY-UNANSWERED %r %r" % (kind, body[:200]))
                return


def serve(cert, key, ask_password):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)

    def one(conn):
        try:
            Session(conn, context, ask_password).serve()
        except (EOFError, OSError):
            pass
        finally:
            conn.close()

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=one, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "certs":
        make_certs(sys.argv[2])
    elif len(sys.argv) in (4, 5) and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3], sys.argv[4:] == ["--ask-password"])
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)
