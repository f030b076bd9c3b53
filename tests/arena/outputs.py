#!/usr/bin/env python3
"""What the arena writes: the CSV never replaces a program (compared as files,
through links too), one file named twice is one program named twice, the CSV
takes its name only when complete, standard output that cannot be written is a
failure, and a program cut to 16384 bytes or ended by a NUL byte is warned of."""
import os
import subprocess

from arena_testlib import Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
OVER = "La salida {} es el propio programa: no se escribe encima\n"

def path(name):
    return os.path.join(work, name)

def content(name):
    with open(path(name), "rb") as f:
        return f.read()

# The CSV over a program: by its own name, through a symbolic link, through a
# hard link, and through a spelling with ./; nothing is written, exit 2.
robot = content("hunter.zkv")
with open(path("victim.zkv"), "wb") as f:
    f.write(robot)
os.symlink("victim.zkv", path("soft.csv"))
os.link(path("victim.zkv"), path("hard.csv"))
for csv_name in ("victim.zkv", "soft.csv", "hard.csv", "./victim.zkv"):
    got = run([arena, "--seeds", "2", "--levels", "1", "--csv", csv_name, "idle.zkv", "victim.zkv"], work)
    checks.equal(got, (2, b"", OVER.format(csv_name).encode()), f"--csv {csv_name} over a program")
    checks.equal(content("victim.zkv"), robot, f"--csv {csv_name}: the program is unchanged")
checks.true(os.path.islink(path("soft.csv")), "the link is still a link")

# One file named twice is one program named twice.
for second in ("./hunter.zkv", "soft.csv", os.path.join(work, "hunter.zkv")):
    first = "victim.zkv" if second == "soft.csv" else "hunter.zkv"
    got = run([arena, "--seeds", "2", "--levels", "1", first, second], work)
    checks.equal(got, (2, b"", f"Programa repetido: {second}\n".encode()), f"{first} and {second} are one program")

# A finished sweep replaces the earlier CSV whole and leaves no temporary file.
with open(path("run.csv"), "wb") as f:
    f.write(b"earlier\n")
status, out, err = run([arena, "--seeds", "3", "--levels", "2", "--csv", "run.csv", "hunter.zkv"], work)
checks.equal((status, err), (0, b""), "a sweep writing run.csv")
checks.equal(len(content("run.csv").split(b"\n")), 5, "run.csv holds the header and three rows")
# Through a link, the file the link names is replaced and the link stays.
os.symlink("run.csv", path("run-link.csv"))
status, out, err = run([arena, "--seeds", "4", "--levels", "2", "--csv", "run-link.csv", "hunter.zkv"], work)
checks.equal((status, err), (0, b""), "a sweep writing through a link")
checks.true(os.path.islink(path("run-link.csv")), "--csv through a link keeps the link")
checks.equal(len(content("run.csv").split(b"\n")), 6, "the linked file holds the new rows")
# A CSV that cannot be written keeps the earlier file under that name.
status, out, err = run([arena, "--seeds", "2", "--levels", "1", "--csv", "nodir/x.csv", "hunter.zkv"], work)
checks.equal((status, err), (2, b"No se pudo escribir nodir/x.csv\n"), "a CSV in a missing folder")
checks.equal([n for n in os.listdir(work) if ".tmp-" in n], [], "no temporary file is left behind")

# Standard output that cannot be written is a failure, for the summary and the JSON.
if os.access("/dev/full", os.W_OK):
    for extra in ([], ["--json"]):
        with open("/dev/full", "wb") as full:
            p = subprocess.run([arena, "--seeds", "3", "--levels", "1"] + extra + ["hunter.zkv"], cwd=work,
                               stdout=full, stderr=subprocess.PIPE, timeout=600)
        checks.equal((p.returncode, p.stderr), (2, "No se pudo escribir la salida estándar\n".encode()),
                     f"summary {extra} to a full device")
else:
    print("/dev/full no existe: se omite la salida llena")

# A program past 16384 bytes, or with a NUL byte, plays as prendax_cli plays it, with a warning.
with open(path("long.zkv"), "wb") as f:
    f.write(robot + b" " * 17000)
size = os.path.getsize(path("long.zkv"))
status, out, err = run([arena, "--seeds", "2", "--levels", "1", "--csv", "long.csv", "long.zkv"], work)
checks.equal((status, err), (0, f"Aviso: long.zkv ocupa {size} bytes: solo se juegan sus primeros 16384\n".encode()),
             "a long program is warned of")
with open(path("nul.zkv"), "wb") as f:
    f.write(robot[:40] + b"\0" + robot[40:])
status, out, err = run([arena, "--seeds", "2", "--levels", "1", "nul.zkv"], work)
checks.true(err.startswith("Aviso: nul.zkv tiene un byte NUL en la posición 40: el programa acaba ahí\n".encode()),
            f"a NUL byte is warned of: {err!r}")
status, out, err = run([arena, "--seeds", "2", "--levels", "1", "hunter.zkv"], work)
checks.equal(err, b"", "no warning for a whole program")

# Names and diagnostics quoting control bytes reach the terminal escaped.
with open(path("esc.zkv"), "wb") as f:
    f.write(b"START\nMOVE \x1b\nEND\n")
status, out, err = run([arena, "--seeds", "1", "--levels", "1", "esc.zkv"], work)
checks.equal((status, err), (1, "[lexico] línea 2, col 6: Carácter no reconocido '\\x1b'\n".encode()),
             "a diagnostic quoting a control byte")
status, out, err = run([arena, "--seeds", "1", "--levels", "1", "a\x1b[2J.zkv"], work)
checks.equal((status, err), (2, b"No se pudo leer a\\x1b[2J.zkv\n"), "an unreadable name")

checks.finish()
