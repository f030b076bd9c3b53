#!/usr/bin/env python3
"""The README's recipe for a sweep over several machines, run for real: its GNU
parallel command, taken from the README itself, with two local job slots
standing in for the two machines and a smaller seed range, then its merge with
arena/merge_csv.py. The merged CSV must be the single run's byte for byte, and
so must the summary that --summary prints from it (checked once the arena has
--summary). Skipped when GNU parallel is missing (Debian package `parallel`),
failed instead under CI=true."""
import os
import re
import shutil
import subprocess
import sys

from arena_testlib import Checks, MERGE, binaries, run, workdir

arena, cli = binaries()
checks = Checks()


def missing(what):
    if os.environ.get("CI") == "true":
        print(f"FALLO: falta {what} (con CI=true ninguna prueba se omite)")
        sys.exit(1)
    print(f"OMITIDA: falta {what}")
    sys.exit(77)


parallel = shutil.which("parallel")
if parallel is None:
    missing("GNU parallel (paquete de Debian parallel)")
version = subprocess.run([parallel, "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL).stdout.decode("utf-8", "replace")
if not version.startswith("GNU parallel"):
    missing("GNU parallel (el parallel instalado es otro: paquete de Debian parallel)")

# The recipe as the README gives it: from "parallel -S" to the merge line.
README = os.path.join(os.path.dirname(MERGE), "..", "README.md")
with open(README, encoding="utf-8") as f:
    readme = f.read()
found = re.search(r"^(parallel -S .*?)^(python3 arena/merge_csv\.py part-\*\.csv > sweep\.csv)$", readme,
                  re.S | re.M)
if not checks.true(found, "the README holds the GNU parallel recipe and its merge"):
    checks.finish()
command = re.sub(r"[ \t]+#[^\n]*", "", found.group(1))  # comments off, then the continuation lines joined
command = command.replace("\\\n", " ").strip()
merge = found.group(2)
checks.true(" -S m1,m2 " in command and " ::: " in command, f"the recipe's shape: {command}")

SEEDS = ["1-17", "18-40", "41-41", "42-75"]  # uneven parts, one of a single seed
local = command.replace(" -S m1,m2 ", " -S 2/: ")  # two job slots on this machine for the two machines
local = local[:local.index(" ::: ")] + " ::: " + " ".join(SEEDS)
merge = merge.replace("arena/merge_csv.py", MERGE)

work = workdir()
shutil.copy(os.path.join(work, "hunter.zkv"), os.path.join(work, "robot.zkv"))
env = dict(os.environ)
env["PATH"] = os.path.dirname(arena) + os.pathsep + env.get("PATH", "")
env["HOME"] = work  # parallel keeps its notes in ~/.parallel
p = subprocess.run(["bash", "-c", f"set -e\n{local}\n{merge}\n"], cwd=work, env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
checks.equal(p.returncode, 0, f"the recipe runs: {p.stderr.decode('utf-8', 'replace')}")
for i in range(1, len(SEEDS) + 1):
    checks.true(os.path.exists(os.path.join(work, f"part-{i}.csv")), f"part {i} was written")

status, single_text, _ = run([arena, "--seeds", "1-75", "--csv", "single.csv", "robot.zkv"], work)
checks.equal(status, 0, "the single run")
with open(os.path.join(work, "single.csv"), "rb") as f:
    single = f.read()
with open(os.path.join(work, "sweep.csv"), "rb") as f:
    merged = f.read()
checks.equal(merged.count(b"\n"), 1 + 3 * 75, "rows of the merged CSV")
checks.equal(merged, single, "the merged CSV is the single run's, byte for byte")

status, usage, _ = run([arena, "--help"], work)
if b"--summary" in usage:
    for extra in ([], ["--json"]):
        _, single_out, _ = run([arena, "--seeds", "1-75", "robot.zkv"] + extra, work)
        got = run([arena, "--summary", "sweep.csv"] + extra, work)
        checks.equal(got[0], 0, f"--summary {' '.join(extra)} of the merged CSV")
        checks.equal(got[1], single_out, f"--summary {' '.join(extra)} of the merged CSV is the single run's")
else:
    print("NOTA: prendax_arena no tiene --summary: solo se compara el CSV fusionado")

checks.finish()
