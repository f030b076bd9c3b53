#!/usr/bin/env python3
"""The arena's default tick limit is the smallest multiple of 500 at which every
match of every example robot over seeds 1 to 1000 at levels 1 to 3 ends in a
victory or a defeat: with it nothing is left unfinished, and 500 fewer leaves
some match unfinished. The guide quotes these figures."""
import glob
import json
import os

from arena_testlib import HERE, Checks, binaries, run

arena, cli = binaries()
checks = Checks()
examples = sorted(glob.glob(os.path.join(HERE, "..", "..", "examples", "*.zkv")))
checks.equal(len(examples), 7, "the example robots")


def sweep(*extra):
    status, out, err = run([arena, "--json", "--seeds", "1000"] + list(extra) + examples, HERE)
    checks.equal((status, err), (0, b""), f"the sweep {extra}")
    return json.loads(out.decode("utf-8"))


def unfinished(doc):
    return sum(level["unfinished"] for p in doc["programs"] for level in p["levels"])


doc = sweep()
checks.equal(doc["ticks"], 5000, "the default tick limit")
checks.equal(unfinished(doc), 0, "every match ends within the default")
checks.true(unfinished(sweep("--ticks", "4500")) > 0, "500 ticks fewer leave a match unfinished")
# The longest match: 01_primer_robot.zkv at level 1, seed 807, ends at tick 4660.
status, out, err = run([cli, "--quiet", "--frame", "--ticks", "5000", "--level", "1", "--seed", "807",
                        os.path.join(HERE, "..", "..", "examples", "01_primer_robot.zkv")], HERE)
frame = json.loads(out.decode("utf-8").splitlines()[-1])
checks.equal((frame["vm"]["status"], frame["vm"]["ticks"]), ("derrota", 4660), "the longest match")
checks.finish()
