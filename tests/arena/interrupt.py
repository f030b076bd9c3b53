#!/usr/bin/env python3
"""A signal sent to a running sweep: SIGINT and SIGTERM stop it after the
matches in flight; standard error says how many matches were played and that
the run was interrupted, the summary of what was played is printed, the exit
status is 128 + the signal, and nothing is left under the --csv name (the
earlier file stays as it was) nor beside it."""
import json
import os
import re
import signal
import subprocess
import time

from arena_testlib import Checks, binaries, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
EARLIER = b"an earlier file\n"
TOTAL = 3 * 1000000  # far more matches than a test waits for


def temp_files():
    return [n for n in os.listdir(work) if ".tmp-" in n]


def interrupted_sweep(sig, extra):
    with open(os.path.join(work, "big.csv"), "wb") as f:
        f.write(EARLIER)
    p = subprocess.Popen([arena, "--seeds", "1000000", "--csv", "big.csv"] + extra + ["hunter.zkv"], cwd=work,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # The sweep is running once its temporary CSV exists; let it play a while.
    deadline = time.monotonic() + 60
    while not temp_files() and p.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    time.sleep(0.5)
    p.send_signal(sig)
    out, err = p.communicate(timeout=120)
    return p.returncode, out.decode("utf-8"), err.decode("utf-8")


for sig in (signal.SIGINT, signal.SIGTERM):
    name = signal.Signals(sig).name
    status, out, err = interrupted_sweep(sig, [])
    checks.equal(status, 128 + sig, f"{name}: exit status")
    m = re.match(r"Barrido interrumpido por una señal: se jugaron (\d+) de (\d+) partidas\n"
                 r"El CSV de un barrido interrumpido no se guarda: big.csv queda como estaba\n$", err)
    checks.true(m, f"{name}: standard error says so: {err!r}")
    played = int(m.group(1)) if m else -1
    checks.true(m and int(m.group(2)) == TOTAL and 0 <= played < TOTAL, f"{name}: counts {err!r}")
    # The summary covers exactly the matches played.
    counted = sum(int(n) for n in re.findall(r"^  Partidas: (\d+)", out, re.M))
    checks.equal(counted, played, f"{name}: the summary counts the matches played")
    checks.true(out.startswith("Arena PRENDAX"), f"{name}: the summary is printed")
    with open(os.path.join(work, "big.csv"), "rb") as f:
        checks.equal(f.read(), EARLIER, f"{name}: the file under the --csv name is unchanged")
    checks.equal(temp_files(), [], f"{name}: no temporary file is left")

# The JSON summary of an interrupted sweep counts what was played, too.
status, out, err = interrupted_sweep(signal.SIGINT, ["--json"])
checks.equal(status, 130, "--json: exit status")
m = re.match(r"Barrido interrumpido por una señal: se jugaron (\d+) de", err)
try:
    document = json.loads(out)
    counted = sum(level["matches"] for program in document["programs"] for level in program["levels"])
except ValueError:
    counted = -1
checks.true(m and counted == int(m.group(1)), f"--json: the document counts the matches played ({counted}, {err!r})")

checks.finish()
