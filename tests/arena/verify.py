#!/usr/bin/env python3
"""--verify replays a CSV: exit 0 when every row agrees; exit 1 at the first row
that differs, naming its line and the columns that differ; exit 2 for a file
that cannot be read or is not an arena CSV."""
import os
import shutil

from arena_testlib import Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
programs = ["hunter.zkv", "erratic.zkv", "idle.zkv"]
TICKS = "1200"

status, out, err = run([arena, "--seeds", "1-10", "--ticks", TICKS, "--csv", "run.csv"] + programs, work)
checks.equal(status, 0, "sweep that writes the CSV")
with open(os.path.join(work, "run.csv"), "rb") as f:
    original = f.read()
lines = original.decode("utf-8").split("\n")


def write(name, text_lines):
    with open(os.path.join(work, name), "wb") as f:
        f.write("\n".join(text_lines).encode("utf-8"))


def verify(name, *extra):
    """--verify needs no --ticks: every row holds its own tick limit."""
    return run([arena, "--verify", name] + list(extra), work)


# Agreement, with any number of workers.
for jobs in ("1", "2"):
    status, out, err = verify("run.csv", "--jobs", jobs)
    checks.equal((status, out, err), (0, "Verificación correcta: 90 partidas de run.csv coinciden\n".encode(), b""),
                 f"verify agrees with {jobs} workers")

# A CSV with CRLF line ends and a blank last line still agrees.
with open(os.path.join(work, "crlf.csv"), "wb") as f:
    f.write(original.replace(b"\n", b"\r\n") + b"\r\n")
status, out, err = verify("crlf.csv")
checks.equal((status, err), (0, b""), "verify of a CRLF copy")


def edit(line_no, column, value):
    fields = lines[line_no - 1].split(",")
    fields[column] = value
    copy = list(lines)
    copy[line_no - 1] = ",".join(fields)
    return copy


# Line 35 is erratic.zkv, level 1, seed 4 (the header, then 30 rows of hunter.zkv).
row35 = lines[34].split(",")
checks.equal(row35[:3], ["erratic.zkv", "1", "4"], "the row chosen for editing")
edited = edit(35, 4, str(int(row35[4]) + 10))
write("score.csv", edited)
for jobs in ("1", "2"):
    status, out, err = verify("score.csv", "--jobs", jobs)
    want = (f"Fila distinta en score.csv, línea 35 (erratic.zkv, nivel 1, semilla 4):\n"
            f"  score: en el CSV \"{int(row35[4]) + 10}\", al repetir \"{row35[4]}\"\n")
    checks.equal((status, out.decode("utf-8"), err), (1, want, b""), f"an edited score, {jobs} workers")

# Two edited rows: the first one is named, with every column that differs.
two = edit(35, 4, "1")
fields = two[44].split(",")
fields[3], fields[11] = "victoria", "línea 9: otro"
two[44] = ",".join(fields)
fields = two[11].split(",")
fields[5], fields[9] = "7", "8"
two[11] = ",".join(fields)
write("two.csv", two)
status, out, err = verify("two.csv", "--jobs", "2")
row12 = lines[11].split(",")
want = (f"Fila distinta en two.csv, línea 12 ({row12[0]}, nivel {row12[1]}, semilla {row12[2]}):\n"
        f"  health: en el CSV \"7\", al repetir \"{row12[5]}\"\n"
        f"  steps: en el CSV \"8\", al repetir \"{row12[9]}\"\n")
checks.equal((status, out.decode("utf-8")), (1, want), "the first of two edited rows")

# An error column edited away, and the ticks of the replay changed.
erratic_error = next(i for i, l in enumerate(lines) if l.startswith("erratic.zkv") and "línea" in l)
fields = lines[erratic_error].split(",")
write("noerror.csv", edit(erratic_error + 1, 11, ""))
status, out, err = verify("noerror.csv")
checks.true(status == 1 and f"  error: en el CSV \"\", al repetir \"{fields[11]}\"" in out.decode("utf-8"),
            "an error column emptied")
# A row's tick limit rules its replay; --ticks does not override it.
status, out, err = run([arena, "--verify", "run.csv", "--ticks", "1100"], work)
checks.equal((status, err), (0, b""), "--ticks does not override the CSV's tick limits")
checks.equal(lines[0].split(",")[-1], "tickLimit", "the last column is the tick limit")
checks.true(all(l.split(",")[-1] == TICKS for l in lines[1:] if l), "every row holds the sweep's tick limit")
write("limit.csv", edit(2, 12, "1100"))
status, out, err = verify("limit.csv")
checks.true(status == 1 and out.decode("utf-8").startswith("Fila distinta en limit.csv, línea 2 (hunter.zkv, nivel 1, "
                                                            "semilla 1):\n"), "a row whose tick limit was changed")

# A CSV of an older version, without the tick limit's column: it verifies
# with --ticks and says that --ticks is needed without it.
write("old.csv", [l.rsplit(",", 1)[0] if l else l for l in lines])
status, out, err = verify("old.csv")
checks.equal((status, out, err.decode("utf-8")),
             (2, b"", "old.csv no tiene la columna tickLimit (lo escribió una versión anterior): indique con --ticks N "
                      "los ticks con que se jugó\n"), "an old CSV without --ticks")
status, out, err = verify("old.csv", "--ticks", TICKS)
checks.equal((status, out, err), (0, "Verificación correcta: 90 partidas de old.csv coinciden\n".encode(), b""),
             "an old CSV with --ticks")
status, out, err = verify("old.csv", "--ticks", "1100")
checks.true(status == 1 and "línea 2 (hunter.zkv, nivel 1, semilla 1)" in out.decode("utf-8"),
            "an old CSV replayed with other ticks differs at the first row")

# A program that changed so that it no longer compiles.
os.makedirs(os.path.join(work, "changed"))
shutil.copy(os.path.join(work, "run.csv"), os.path.join(work, "changed", "run.csv"))
shutil.copy(os.path.join(work, "hunter.zkv"), os.path.join(work, "changed", "hunter.zkv"))
shutil.copy(os.path.join(work, "idle.zkv"), os.path.join(work, "changed", "idle.zkv"))
shutil.copy(os.path.join(work, "broken.zkv"), os.path.join(work, "changed", "erratic.zkv"))
status, out, err = run([arena, "--verify", "run.csv"], os.path.join(work, "changed"))
# The program is named by the CSV: where it fails is told, its diagnostics (which
# quote the file) are not.
checks.equal((status, out.decode("utf-8"), err),
             (1, "Fila distinta en run.csv, línea 32 (erratic.zkv, nivel 1, semilla 1): el programa no compila "
                 "(primer error en la línea 3, col 1)\n", b""), "a program that no longer compiles")

# A program that is gone.
os.remove(os.path.join(work, "changed", "idle.zkv"))
shutil.copy(os.path.join(work, "erratic.zkv"), os.path.join(work, "changed", "erratic.zkv"))
status, out, err = run([arena, "--verify", "run.csv"], os.path.join(work, "changed"))
checks.equal((status, out, err), (2, b"", b"No se pudo leer idle.zkv\n"), "a program that is gone")

# Files that are not arena CSVs.
bad = {
    "missing.csv": None,
    "empty.csv": "",
    "header.csv": "program,level,seed\n",
    "columns.csv": lines[0] + "\nhunter.zkv,1,1,esperando\n",
    "level.csv": lines[0] + "\n" + lines[1].replace("hunter.zkv,1,", "hunter.zkv,4,", 1) + "\n",
    "seed.csv": lines[0] + "\n" + lines[1] + "\n" + lines[2].replace(",1,2,", ",1,4294967296,", 1) + "\n",
    "quote.csv": lines[0] + "\n\"hunter.zkv,1,1\n",
    "quote2.csv": lines[0] + "\n,\"open\n",  # an open quote after an empty first field
    "stray.csv": lines[0] + "\nhun\"ter.zkv,1,1\n",
    "limitvalue.csv": lines[0] + "\n" + lines[1].rsplit(",", 1)[0] + ",12x\n",
}
for name, text in bad.items():
    if text is not None:
        with open(os.path.join(work, name), "w", encoding="utf-8") as f:
            f.write(text)
expected = {
    "missing.csv": "No se pudo leer missing.csv\n",
    "empty.csv": "CSV no válido: empty.csv, línea 1: la cabecera no es la de prendax_arena\n",
    "header.csv": "CSV no válido: header.csv, línea 1: la cabecera no es la de prendax_arena\n",
    "columns.csv": "CSV no válido: columns.csv, línea 2: se esperan 13 columnas\n",
    "limitvalue.csv": "CSV no válido: limitvalue.csv, línea 2: límite de ticks no válido\n",
    "level.csv": "CSV no válido: level.csv, línea 2: nivel no válido\n",
    "seed.csv": "CSV no válido: seed.csv, línea 3: semilla no válida\n",
    "quote.csv": "CSV no válido: quote.csv, línea 2: comillas sin cerrar\n",
    "quote2.csv": "CSV no válido: quote2.csv, línea 2: comillas sin cerrar\n",
    "stray.csv": "CSV no válido: stray.csv, línea 2: comillas fuera de lugar\n",
}
for name, message in expected.items():
    status, out, err = verify(name)
    checks.equal((status, out, err.decode("utf-8")), (2, b"", message), f"verify of {name}")
status, out, err = verify(".")
checks.equal((status, err), (2, b"No se pudo leer .\n"), "verify of a directory")

checks.finish()
