#!/usr/bin/env python3
"""--summary prints, without playing, the summary of the CSVs a sweep wrote:
byte for byte the text or the JSON document of the run itself, also from the
parts of a split sweep given in any order, and from an older CSV without the
tick limit's column when --ticks is given."""
import os

from arena_testlib import Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
programs = ["hunter.zkv", "erratic.zkv", "idle.zkv"]
common = ["--ticks", "1500", "--levels", "1,3"]

status, text, _ = run([arena, "--seeds", "1-12", "--csv", "all.csv"] + common + programs, work)
checks.equal(status, 0, "the sweep")
_, doc, _ = run([arena, "--json", "--seeds", "1-12"] + common + programs, work)
for name, seeds in (("a.csv", "1-5"), ("b.csv", "6-12")):
    run([arena, "--seeds", seeds, "--csv", name] + common + programs, work)

checks.equal(run([arena, "--summary", "all.csv"], work), (0, text, b""), "the text of one CSV")
checks.equal(run([arena, "--summary", "--json", "all.csv"], work), (0, doc, b""), "the document of one CSV")
checks.equal(run([arena, "--summary", "b.csv", "a.csv"], work), (0, text, b""), "two parts in any order")
checks.true(b"Repetir la peor: prendax_cli --ticks 1500 --level 1 --seed" in text, "the replay commands")

# An older CSV: without its tick limit it needs --ticks.
with open(os.path.join(work, "all.csv"), encoding="utf-8") as f:
    lines = f.read().split("\n")
with open(os.path.join(work, "old.csv"), "w", encoding="utf-8") as f:
    f.write("\n".join(l.rsplit(",", 1)[0] if l else l for l in lines))
checks.equal(run([arena, "--summary", "--ticks", "1500", "old.csv"], work), (0, text, b""), "an older CSV with --ticks")
status, out, err = run([arena, "--summary", "old.csv"], work)
checks.equal((status, out, err.decode("utf-8")),
             (2, b"", "old.csv no tiene la columna tickLimit (lo escribió una versión anterior): indique con --ticks N "
                      "los ticks con que se jugó\n"), "an older CSV without --ticks")

# A match given twice would count twice: refused.
with open(os.path.join(work, "twice.csv"), "w", encoding="utf-8") as f:
    f.write("\n".join(lines[:3] + lines[2:]))
status, out, err = run([arena, "--summary", "twice.csv"], work)
checks.equal((status, out, err.decode("utf-8")), (2, b"", "CSV no válido: twice.csv, línea 4: partida repetida\n"),
             "a match given twice")
checks.equal(run([arena, "--summary", "nada.csv"], work)[::2], (2, b"No se pudo leer nada.csv\n"), "a missing CSV")
checks.finish()
