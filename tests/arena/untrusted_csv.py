#!/usr/bin/env python3
"""--verify under untrusted CSVs: it never reports success without checking (a
CSV read from a pipe while standard error is a terminal, a CSV with no rows),
bounds the length of a line, reads only regular program files inside the
current folder unless --trust-paths, does not quote the diagnostics of a
program a CSV names, and escapes control bytes and invalid UTF-8 in every
message that repeats the CSV."""
import atexit
import os
import pty
import shutil
import subprocess
import threading

from arena_testlib import HEADER, Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
TICKS = "300"
TOO_LONG = "CSV no válido: {}, línea {}: línea demasiado larga\n"
MAX_RECORD = 16384

status, out, err = run([arena, "--seeds", "3", "--levels", "1,2", "--ticks", TICKS, "--csv", "run.csv", "hunter.zkv",
                        "erratic.zkv"], work)
checks.equal(status, 0, "the sweep writing the CSV")
with open(os.path.join(work, "run.csv"), "rb") as f:
    original = f.read()
lines = original.split(b"\n")
# Line 3 is hunter.zkv, level 1, seed 2: its score edited.
fields = lines[2].split(b",")
fields[4] = str(int(fields[4]) + 5).encode()
changed = b"\n".join(lines[:2] + [b",".join(fields)] + lines[3:])


def write(name, data):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)


def verify(name, *extra, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE):
    p = subprocess.run([arena, "--verify", name, "--ticks", TICKS] + list(extra), cwd=work, stdin=stdin,
                       stdout=subprocess.PIPE, stderr=stderr, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), (p.stderr or b"").decode("utf-8", "replace")


# ---- never a success without checking ---------------------------------------
# The CSV on a pipe while standard error is a terminal: the progress bar must
# not consume the pipe.
def verify_piped(data):
    master, slave = pty.openpty()
    drained = []
    drain = threading.Thread(target=lambda: drained.append(read_all(master)))
    drain.start()
    p = subprocess.Popen([arena, "--verify", "/dev/stdin", "--ticks", TICKS], cwd=work, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=slave)
    out, _ = p.communicate(data, timeout=120)
    os.close(slave)
    drain.join()
    os.close(master)
    return p.returncode, out.decode("utf-8")


def read_all(fd):
    chunks = []
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the terminal's other end was closed
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


status, out = verify_piped(changed)
checks.equal((status, out.split("\n")[0]), (1, "Fila distinta en /dev/stdin, línea 3 (hunter.zkv, nivel 1, semilla 2):"),
             "a piped CSV with a changed row, standard error a terminal")
status, out = verify_piped(original)
checks.equal((status, out), (0, "Verificación correcta: 12 partidas de /dev/stdin coinciden\n"),
             "a piped CSV that agrees, standard error a terminal")

# A CSV with no rows checked nothing.
NO_ROWS = "Verificación fallida: {} no tiene filas: no hay partidas que comparar\n"
write("empty.csv", HEADER.encode())
write("blank.csv", HEADER.encode() + b"\n\r\n\n")
for name in ("empty.csv", "blank.csv"):
    checks.equal(verify(name), (1, NO_ROWS.format(name), ""), f"{name}: no rows is no success")

# ---- bounded lines ------------------------------------------------------------
# A device of zeros: one endless line.
checks.equal(verify("/dev/zero"), (2, "", TOO_LONG.format("/dev/zero", 1)), "/dev/zero ends at once")
# A 10 MB line is refused, not repeated.
write("huge.csv", original + b"hunter.zkv,1,1," + b"x" * 10_000_000 + b"\n")
checks.equal(verify("huge.csv"), (2, "", TOO_LONG.format("huge.csv", 14)), "a 10 MB line")
write("huge_header.csv", b"p" * 20000 + b"\n")
checks.equal(verify("huge_header.csv"), (2, "", TOO_LONG.format("huge_header.csv", 1)), "a header too long")
# The limit in a pair: a row of 16384 bytes with its line feed is read (and
# differs in its error column); one byte more is too long.
# hunter.zkv's row has an empty error column (before the tick limit): pad it.
head, _, limit = lines[2].rsplit(b",", 2)
for extra, want in ((0, 1), (1, 2)):
    record = head + b"," + b"e" * (MAX_RECORD - len(head) - len(limit) - 3 + extra) + b"," + limit
    checks.equal(len(record) + 1, MAX_RECORD + extra, "the padded row's length")
    write("edge.csv", lines[0] + b"\n" + record + b"\n")
    status, out, err = verify("edge.csv")
    checks.equal(status, want, f"a row of {MAX_RECORD + extra} bytes: {err!r}")

# ---- programs a CSV names ---------------------------------------------------
OUTSIDE = ("CSV no válido: {}, línea 2: el programa {} está fuera de la carpeta actual (se admite con "
           "--trust-paths)\n")
# A copy of a robot beside the work folder, removed at exit.
outside_copy = work + "-hunter.zkv"
shutil.copy(os.path.join(work, "hunter.zkv"), outside_copy)
atexit.register(os.remove, outside_copy)
os.mkdir(os.path.join(work, "sub"))
os.symlink(outside_copy, os.path.join(work, "sub", "away.zkv"))
first_row = lines[1].split(b",", 1)[1]
for program in (os.path.join(work, "hunter.zkv"), "../" + os.path.basename(work) + "-hunter.zkv", "sub/away.zkv",
                "sub/../../x.zkv", "."):
    write("paths.csv", lines[0] + b"\n" + program.encode() + b"," + first_row + b"\n")
    checks.equal(verify("paths.csv"), (2, "", OUTSIDE.format("paths.csv", program)), f"{program} is refused")
# --trust-paths lets a CSV name them.
write("paths.csv", lines[0] + b"\n" + os.path.join(work, "hunter.zkv").encode() + b"," + first_row + b"\n")
checks.equal(verify("paths.csv", "--trust-paths"), (0, "Verificación correcta: 1 partidas de paths.csv coinciden\n", ""),
             "--trust-paths reads an absolute path")
# Inside the folder, through a folder of its own, is fine.
os.symlink("../hunter.zkv", os.path.join(work, "sub", "near.zkv"))
write("paths.csv", lines[0] + b"\n" + b"sub/./near.zkv," + first_row + b"\n")
checks.equal(verify("paths.csv"), (0, "Verificación correcta: 1 partidas de paths.csv coinciden\n", ""),
             "a link inside the folder is read")
# A pipe named by a CSV would hang the run: refused before it is opened.
os.mkfifo(os.path.join(work, "fifo.zkv"))
write("fifo.csv", lines[0] + b"\n" + b"fifo.zkv," + first_row + b"\n")
checks.equal(verify("fifo.csv"), (2, "", "CSV no válido: fifo.csv, línea 2: fifo.zkv no es un archivo regular\n"),
             "a FIFO named by a CSV")

# A program that does not compile: where, never its diagnostics' quoted words.
write("hostile.zkv", b"START\nMOVE \x1b]0;pwned\x07\nEND\n")
write("hostile.csv", lines[0] + b"\n" + b"hostile.zkv," + first_row + b"\n")
checks.equal(verify("hostile.csv"), (1, "Fila distinta en hostile.csv, línea 2 (hostile.zkv, nivel 1, semilla 1): el "
                                        "programa no compila (primer error en la línea 2, col 6)\n", ""),
             "a CSV-named program's diagnostics are not quoted")

# ---- escaped fields -------------------------------------------------------------
# An OSC sequence in the outcome column and bytes that are not UTF-8 in the error column.
fields = lines[1].split(b",")
fields[3] = b"\x1b]0;pwned\x07"
fields[11] = b"\xff\xfe\xc3"
write("osc.csv", lines[0] + b"\n" + b",".join(fields) + b"\n")
p = subprocess.run([arena, "--verify", "osc.csv", "--ticks", TICKS], cwd=work, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE, timeout=120)
checks.equal(p.returncode, 1, "a row with control bytes differs")
checks.true(b"\x1b" not in p.stdout + p.stderr and b"\xff" not in p.stdout + p.stderr, "no raw control byte is echoed")
checks.true(b'en el CSV "\\x1b]0;pwned\\x07"' in p.stdout, f"the outcome shown escaped: {p.stdout!r}")
checks.true(b'en el CSV "\\xff\\xfe\\xc3"' in p.stdout, f"the error shown escaped: {p.stdout!r}")
# A program name with an escape sequence, in the message of a file that cannot be read.
write("name.csv", lines[0] + b"\n" + b"no\x1b[2Jpe.zkv," + first_row + b"\n")
checks.equal(verify("name.csv"), (2, "", "No se pudo leer no\\x1b[2Jpe.zkv\n"), "an unreadable name is escaped")

checks.finish()
