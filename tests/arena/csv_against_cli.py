#!/usr/bin/env python3
"""Every CSV row holds what prendax_cli --quiet --frame reports for the same
program, level, seed and ticks: checked on a sample that takes in victories,
defeats, run-time errors, budget hits, seeds 0 and 4294967295, and ticks 0,
negative and 1."""
import os

from arena_testlib import Checks, binaries, cli_frame, read_csv, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
programs = ["hunter.zkv", "erratic.zkv", "idle.zkv", "busy.zkv"]

sweeps = [
    # (seeds, ticks, rows to sample: every n-th)
    ("1-12", "2000", 5),
    ("0-1", "300", 1),
    ("4294967294-4294967295", "700", 1),
    ("2", "0", 1),
    ("2", "-5", 1),
    ("1", "1", 1),
]
seen = {"outcome": set(), "error": False, "budgetHits": False}
for seeds, ticks, every in sweeps:
    csv_path = os.path.join(work, f"sample_{seeds}_{ticks}.csv")
    status, out, err = run([arena, "--jobs", "2", "--seeds", seeds, "--ticks", ticks, "--csv", csv_path] + programs,
                           work)
    checks.equal((status, err), (0, b""), f"sweep --seeds {seeds} --ticks {ticks}")
    rows = read_csv(csv_path)
    for row in rows[::every]:
        want = cli_frame(cli, work, row["program"], row["level"], row["seed"], ticks)
        got = {k: row[k] for k in want}
        checks.equal(got, want, f"row {row['program']} level {row['level']} seed {row['seed']} ticks {ticks}")
        seen["outcome"].add(row["outcome"])
        seen["error"] |= row["error"] != ""
        seen["budgetHits"] |= row["budgetHits"] != "0"

# The sample is worth something only if it met each kind of ending.
for outcome in ("victoria", "derrota", "error", "esperando", "ejecutando"):
    checks.true(outcome in seen["outcome"], f"the sample holds a match ending in {outcome}")
checks.true(seen["error"], "the sample holds a run-time error")
checks.true(seen["budgetHits"], "the sample holds budget hits")
checks.finish()
