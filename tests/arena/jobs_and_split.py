#!/usr/bin/env python3
"""The results of a sweep depend only on its inputs: the CSV, the text summary and
the JSON summary are byte-identical for any --jobs, and a sweep split into seed
ranges and merged with arena/merge_csv.py gives the CSV of the whole sweep."""
import os
import shutil
import sys

from arena_testlib import MERGE, Checks, binaries, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
# A name that must be quoted in the CSV.
odd = 'odd, "name".zkv'
shutil.copy(os.path.join(work, "hunter.zkv"), os.path.join(work, odd))
programs = ["hunter.zkv", "erratic.zkv", "idle.zkv", odd]


def sweep(jobs, extra, csv_name):
    status, out, err = run([arena, "--jobs", str(jobs), "--csv", csv_name] + extra, work)
    with open(os.path.join(work, csv_name), "rb") as f:
        return status, out, err, f.read()


# Same matches on 1, 2, 3 and 64 workers.
base = ["--seeds", "1-30", "--ticks", "1500"] + programs
ref = sweep(1, base, "jobs1.csv")
checks.equal(ref[0], 0, "exit status with one worker")
checks.equal(ref[2], b"", "nothing on stderr when it is not a terminal")
checks.equal(ref[3].count(b"\n"), 1 + 4 * 3 * 30, "one row per match plus the header")
checks.true(b'"odd, ""name"".zkv",1,1,' in ref[3], "a program name with a comma and quotes is quoted")
for jobs in (2, 3, 64):
    got = sweep(jobs, base, f"jobs{jobs}.csv")
    checks.equal(got[3], ref[3], f"CSV with {jobs} workers")
    checks.equal(got[1], ref[1], f"text summary with {jobs} workers")
    checks.equal(got[0], 0, f"exit status with {jobs} workers")

json_ref = sweep(1, ["--json"] + base, "json1.csv")
json_two = sweep(2, ["--json"] + base, "json2.csv")
checks.equal(json_two[1], json_ref[1], "JSON summary with 2 workers")
checks.equal(json_ref[3], ref[3], "CSV is the same with --json")

# More workers than matches.
few = sweep(1, ["--seeds", "2", "idle.zkv"], "few1.csv")
many = sweep(500, ["--seeds", "2", "idle.zkv"], "few500.csv")
checks.equal(many[0], 0, "exit status with more workers than matches")
checks.equal(many[3], few[3], "CSV with more workers than matches")
checks.equal(many[1], few[1], "summary with more workers than matches")

# More matches than one block of results: 3 levels x 3000 seeds.
big = ["--seeds", "3000", "--ticks", "40", "idle.zkv"]
big1 = sweep(1, big, "big1.csv")
big2 = sweep(2, big, "big2.csv")
checks.equal(big1[3].count(b"\n"), 9001, "rows of a sweep of several blocks")
checks.equal(big2[3], big1[3], "CSV of several blocks with 2 workers")
checks.equal(big2[1], big1[1], "summary of several blocks with 2 workers")

# Split over seed ranges, merged in any order.
for i, seeds in enumerate(["1-9", "10-21", "22-30"]):
    part = sweep(2, ["--seeds", seeds, "--ticks", "1500"] + programs, f"part{i}.csv")
    checks.equal(part[0], 0, f"exit status of part {seeds}")
for order in (["part0.csv", "part1.csv", "part2.csv"], ["part2.csv", "part0.csv", "part1.csv"]):
    status, merged, err = run([sys.executable, MERGE] + order, work)
    checks.equal(status, 0, f"merge of {order} ({err!r})")
    checks.equal(merged, ref[3], f"merged CSV of {order} equals the single sweep")

# The merge refuses a match given twice.
status, merged, err = run([sys.executable, MERGE, "part0.csv", "part0.csv"], work)
checks.equal(status, 1, "merge of a part with itself fails")
checks.true("partida repetida" in err.decode("utf-8"), "and names the repeated match")

checks.finish()
