#!/usr/bin/env python3
"""Every bad command line gives its message, byte for byte, and its exit status;
nothing is played and no CSV is written."""
import os

from arena_testlib import Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()

USAGE = ("Uso: prendax_arena [--seeds A-B | --seeds N] [--levels 1,2,3] [--ticks N] [--jobs N] [--csv FILE] "
         "[--json] [--profile] [--profile-collapsed FILE] [--verify FILE [--trust-paths]] robot.zkv [robot2.zkv ...]\n"
         "       prendax_arena --summary [--json] [--ticks N] FILE.csv [FILE.csv ...]\n"

         "       prendax_arena --compare [--sprt [--p1 P] [--alpha A] [--beta B]] [--seeds A-B | --seeds N] "
         "[--levels 1,2,3] [--ticks N] [--jobs N] [--csv FILE] [--json] A.zkv B.zkv\n")
SEEDS = "Rango de semillas no válido: {} (se espera N, de 1 a 4294967295, o A-B con A <= B <= 4294967295)\n"
LEVELS = "Lista de niveles no válida: {} (niveles de 1 a 3 separados por comas, sin repetir)\n"
TICKS = "Número de ticks no válido: {}\n"
JOBS = "Número de trabajos no válido: {} (mínimo 1)\n"
UNKNOWN = "Opción desconocida: {}\n"
SUGGEST = "Opción desconocida: {}. ¿Quiso decir '{}'?\n"

cases = [
    # (arguments, stdout, stderr, exit status)
    ([], "", "No se indicó ningún programa\n" + USAGE, 2),
    (["--json", "--seeds", "5"], "", "No se indicó ningún programa\n" + USAGE, 2),
    (["--help"], USAGE, "", 0),
    (["-h", "--bogus"], USAGE, "", 0),
    (["--bogus", "--help"], "", UNKNOWN.format("--bogus"), 2),
    (["--bogus", "idle.zkv"], "", UNKNOWN.format("--bogus"), 2),
    (["-", "idle.zkv"], "", UNKNOWN.format("-"), 2),
    (["-hx", "idle.zkv"], "", UNKNOWN.format("-hx"), 2),
    # A long option within two edits of a known one is named, case folded.
    (["--SEEDS", "5", "idle.zkv"], "", SUGGEST.format("--SEEDS", "--seeds"), 2),
    (["--seed", "5", "idle.zkv"], "", SUGGEST.format("--seed", "--seeds"), 2),
    (["--level", "2", "idle.zkv"], "", SUGGEST.format("--level", "--levels"), 2),
    (["--jsn", "idle.zkv"], "", SUGGEST.format("--jsn", "--json"), 2),
    (["--profile-colapsed", "x", "idle.zkv"], "", SUGGEST.format("--profile-colapsed", "--profile-collapsed"), 2),
    (["--hepl", "idle.zkv"], "", SUGGEST.format("--hepl", "--help"), 2),
    (["--quiet", "idle.zkv"], "", UNKNOWN.format("--quiet"), 2),
    (["--seeds", "--json", "idle.zkv"], "", SEEDS.format("--json"), 2),  # a value is taken whatever it is
]
for option in ("--seeds", "--levels", "--ticks", "--jobs", "--csv", "--verify", "--p1", "--alpha", "--beta"):
    cases.append((["idle.zkv", option], "", UNKNOWN.format(option), 2))
for value in ("0", "5-3", "abc", "1-", "-5", "+5", "1-2-3", "4294967296", "1-99999999999", "", " 7", "3.5"):
    cases.append((["--seeds", value, "idle.zkv"], "", SEEDS.format(value), 2))
cases.append((["--seeds", "1-5", "--seeds", "9-1", "idle.zkv"], "", SEEDS.format("9-1"), 2))
for value in ("0", "4", "1,4", "1,1", "", "1,,2", "2,", "a", "1;2", "-1"):
    cases.append((["--levels", value, "idle.zkv"], "", LEVELS.format(value), 2))
for value in ("abc", "5x", "", "99999999999", "1e3"):
    cases.append((["--ticks", value, "idle.zkv"], "", TICKS.format(value), 2))
for value in ("0", "-3", "abc", "2.5", "", "99999999999"):
    cases.append((["--jobs", value, "idle.zkv"], "", JOBS.format(value), 2))
cases += [
    (["nope.zkv"], "", "No se pudo leer nope.zkv\n", 2),
    (["idle.zkv", "nope.zkv", "hunter.zkv"], "", "No se pudo leer nope.zkv\n", 2),
    (["broken.zkv", "nope.zkv"], "", "No se pudo leer nope.zkv\n", 2),  # no diagnostics before the file check
    (["."], "", "No se pudo leer .\n", 2),
    (["idle.zkv", "hunter.zkv", "idle.zkv"], "", "Programa repetido: idle.zkv\n", 2),
    (["--csv", "no/such/dir/out.csv", "idle.zkv"], "", "No se pudo escribir no/such/dir/out.csv\n", 2),
    (["--csv", "out.csv", "nope.zkv"], "", "No se pudo leer nope.zkv\n", 2),
]

for args, out, err, status in cases:
    got = run([arena] + args, work)
    checks.equal((got[0], got[1].decode("utf-8"), got[2].decode("utf-8")), (status, out, err), f"arguments {args}")
checks.true(not os.path.exists(os.path.join(work, "out.csv")), "no CSV is written when a program cannot be read")

# Values at their limits are accepted.
for args in (["--seeds", "4294967295-4294967295"], ["--seeds", "0-0"], ["--levels", "3,1"], ["--ticks", "-2147483648"],
             ["--jobs", "2147483647"]):
    got = run([arena] + args + ["idle.zkv"], work)
    checks.equal((got[0], got[2]), (0, b""), f"accepted: {args}")
checks.finish()
