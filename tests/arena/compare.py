#!/usr/bin/env python3
"""prendax_arena --compare and --sprt against an independent reading of the same
matches: the pairs rebuilt from two plain sweeps, the counts, McNemar's exact
p-value with whole numbers, the paired intervals with a t quantile found by
numerical integration, the first regressions and their commands, and the
sequential test replayed pair by pair; then the stopping pair for 1, 2 and 16
workers, the test's progress line on a terminal, a program against itself, two
robots of clearly different strength, the option combinations that are
refused, and a signal during a comparison."""
import csv
import io
import json
import math
import os
import pty
import re
import shutil
import signal
import subprocess
import time

from arena_testlib import Checks, binaries, read_csv, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
for name in ("01_primer_robot.zkv", "03_apuntar.zkv", "06_aleatorio.zkv", "07_campeon.zkv"):
    shutil.copy(os.path.join(EXAMPLES, name), work)
PAIR_HEADER = "level,seed,pair,outcomeA,outcomeB,scoreA,scoreB,healthA,healthB,ticksA,ticksB\n"
NO_DIFFERENCE = "sin diferencia demostrada con estas semillas"


def arena_run(args):
    status, out, err = run([arena] + args, work)
    return status, out.decode("utf-8"), err.decode("utf-8")


def read_pairs(name):
    with open(os.path.join(work, name), "rb") as f:
        text = f.read().decode("utf-8")
    checks.equal(text[:len(PAIR_HEADER)], PAIR_HEADER, f"header of {name}")
    return list(csv.DictReader(io.StringIO(text, newline="")))


# --- independent reference computations ---------------------------------------------------------

def mcnemar(only_a, only_b):
    n, m = only_a + only_b, min(only_a, only_b)
    if n == 0:
        return 1.0
    return min(1.0, 2 * sum(math.comb(n, k) for k in range(m + 1)) / 2 ** n)


def t_cdf(t, df):
    """P(T <= t) by Simpson's rule over the density from 0 to t."""
    c = math.exp(math.lgamma((df + 1) / 2) - math.lgamma(df / 2)) / math.sqrt(df * math.pi)
    steps = 4000
    h = t / steps
    total = 0.0
    for i in range(steps + 1):
        x = i * h
        w = 1 if i in (0, steps) else (4 if i % 2 else 2)
        total += w * c * (1 + x * x / df) ** (-(df + 1) / 2)
    return 0.5 + total * h / 3


def t_quantile(p, df):
    low, high = 0.0, 64.0
    for _ in range(60):
        mid = (low + high) / 2
        low, high = (mid, high) if t_cdf(mid, df) < p else (low, mid)
    return (low + high) / 2


def interval(values):
    n = len(values)
    if n == 0:
        return {"pairs": 0, "mean": 0.0, "low": None, "high": None}
    mean = sum(values) / n
    if n < 2:
        return {"pairs": 1, "mean": mean, "low": None, "high": None}
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1))
    half = t_quantile(0.975, n - 1) * sd / math.sqrt(n)
    return {"pairs": n, "mean": mean, "low": mean - half, "high": mean + half}


def close(got, want):
    if want is None or got is None:
        return got is want
    return abs(got - want) <= 1e-5 * max(1.0, abs(want))  # the JSON writes six significant digits


def expected_tally(pairs, level, a, b, ticks):
    kinds = {k: sum(1 for p in pairs if p["pair"] == k) for k in ("ambos", "soloA", "soloB", "ninguno")}
    p = mcnemar(kinds["soloA"], kinds["soloB"])
    verdict = NO_DIFFERENCE
    if p < 0.05:
        verdict = "B es mejor" if kinds["soloB"] > kinds["soloA"] else "A es mejor"
    regressions = [{"level": int(x["level"]), "seed": int(x["seed"]),
                    "commandB": f"prendax_cli --ticks {ticks} --level {x['level']} --seed {x['seed']} {b}",
                    "commandA": f"prendax_cli --ticks {ticks} --level {x['level']} --seed {x['seed']} {a}"}
                   for x in pairs if x["pair"] == "soloA"][:5]
    both = [x for x in pairs if x["pair"] == "ambos"]
    return dict(level=level, pairs=len(pairs), mcnemarP=p, verdict=verdict, regressions=regressions,
                score=interval([int(x["scoreB"]) - int(x["scoreA"]) for x in pairs]),
                health=interval([int(x["healthB"]) - int(x["healthA"]) for x in pairs]),
                ticksToWin=interval([int(x["ticksB"]) - int(x["ticksA"]) for x in both]), **kinds)


def check_tally(got, want, what):
    for key in ("level", "pairs", "ambos", "soloA", "soloB", "ninguno", "verdict", "regressions"):
        checks.equal(got[key], want[key], f"{what}: {key}")
    checks.true(close(got["mcnemarP"], want["mcnemarP"]), f"{what}: McNemar p {got['mcnemarP']} vs {want['mcnemarP']}")
    for key in ("score", "health", "ticksToWin"):
        checks.equal(got[key]["pairs"], want[key]["pairs"], f"{what}: pairs of {key}")
        for end in ("mean", "low", "high"):
            checks.true(close(got[key][end], want[key][end]),
                        f"{what}: {key} {end} {got[key][end]} vs {want[key][end]}")


# --- a full comparison against two plain sweeps ------------------------------------------------

A, B, TICKS, SEEDS = "03_apuntar.zkv", "06_aleatorio.zkv", 1600, 40
common = ["--ticks", str(TICKS), "--seeds", str(SEEDS)]
status, out, err = arena_run(["--compare", "--json", "--csv", "pairs.csv"] + common + [A, B])
checks.equal((status, err), (0, ""), "comparison runs")
report = json.loads(out)
pairs = read_pairs("pairs.csv")
status, _, _ = arena_run(["--csv", "plain.csv"] + common + [A, B])
plain = {(r["program"], r["level"], r["seed"]): r for r in read_csv(os.path.join(work, "plain.csv"))}
# Seed by seed, each seed's levels ascending.
checks.equal([(p["level"], p["seed"]) for p in pairs],
             [(str(level), str(seed)) for seed in range(1, SEEDS + 1) for level in (1, 2, 3)], "order of the pairs")
for p in pairs:
    ra, rb = plain[(A, p["level"], p["seed"])], plain[(B, p["level"], p["seed"])]
    got = (p["outcomeA"], p["outcomeB"], p["scoreA"], p["scoreB"], p["healthA"], p["healthB"], p["ticksA"], p["ticksB"])
    want = (ra["outcome"], rb["outcome"], ra["score"], rb["score"], ra["health"], rb["health"], ra["ticks"], rb["ticks"])
    if not checks.equal(got, want, f"pair {p['level']}/{p['seed']} against the plain sweep"):
        break
    won = (ra["outcome"] == "victoria", rb["outcome"] == "victoria")
    kind = {(True, True): "ambos", (True, False): "soloA", (False, True): "soloB", (False, False): "ninguno"}[won]
    checks.equal(p["pair"], kind, f"kind of pair {p['level']}/{p['seed']}")
checks.true(report["overall"]["soloA"] > 0 and report["overall"]["soloB"] > 0, "the example has discordant pairs")
for entry in report["perLevel"]:
    level = entry["level"]
    check_tally(entry, expected_tally([p for p in pairs if p["level"] == str(level)], level, A, B, TICKS),
                f"level {level}")
check_tally(report["overall"], expected_tally(pairs, 0, A, B, TICKS), "all levels")
checks.equal((report["programA"], report["programB"], report["sprt"]), (A, B, None), "programs and no test")

# The text report says the same.
status, text, _ = arena_run(["--compare"] + common + [A, B])
overall = report["overall"]
checks.true(f"Pares: {SEEDS * 3}  ganan ambos: {overall['ambos']}  solo A: {overall['soloA']}  "
            f"solo B: {overall['soloB']}  ninguno: {overall['ninguno']}\n" in text, "overall counts in the text")
checks.true(f"  Veredicto: {overall['verdict']}\n" in text, "overall verdict in the text")
listed = [r for entry in report["perLevel"] for r in entry["regressions"]]
first = listed[0] if listed else None
if checks.true(first is not None, "some level has a regression to list"):
    checks.true(f"      B: {first['commandB']}\n      A: {first['commandA']}\n" in text, "replay commands in the text")
    # The command replays the match the pair holds.
    args = first["commandB"].split()[1:]
    status, frame, _ = run([cli, "--quiet", "--frame"] + args, work)
    checks.equal(json.loads(frame)["vm"]["status"] != "victoria", True, "B does not win the listed seed")

# --- a program against itself ------------------------------------------------------------------

shutil.copy(os.path.join(work, A), os.path.join(work, "copia.zkv"))
for b in (A, "copia.zkv"):
    status, out, _ = arena_run(["--compare", "--json", "--seeds", "15", A, b])
    same = json.loads(out)
    t = same["overall"]
    checks.equal((status, t["soloA"], t["soloB"], t["mcnemarP"], t["verdict"], t["regressions"]),
                 (0, 0, 0, 1, NO_DIFFERENCE, []), f"{A} against {b}")
    checks.equal([t[k]["mean"] for k in ("score", "health")], [0, 0], f"{A} against {b}: no difference")
    checks.equal([(t[k]["low"], t[k]["high"]) for k in ("score", "health")], [(0, 0), (0, 0)],
                 f"{A} against {b}: intervals of width 0")

# --- clearly different strength ----------------------------------------------------------------

weak, strong = "01_primer_robot.zkv", "07_campeon.zkv"
strength = ["--compare", "--json", "--ticks", "3000", "--levels", "3", "--seeds", "20"]
for a, b, verdict in ((weak, strong, "B es mejor"), (strong, weak, "A es mejor")):
    status, out, _ = arena_run(strength + [a, b])
    t = json.loads(out)["overall"]
    checks.equal((status, t["verdict"]), (0, verdict), f"{a} against {b}")
    checks.true(t["mcnemarP"] < 0.001, f"{a} against {b}: p-value {t['mcnemarP']}")

# --- the sequential test -----------------------------------------------------------------------

SPRT_SEEDS = 300
status, out, _ = arena_run(["--compare", "--json", "--csv", "all.csv", "--ticks", str(TICKS), "--seeds",
                            str(SPRT_SEEDS), A, B])
every = read_pairs("all.csv")
# Replayed here pair by pair: log-likelihood ratio of p1 = 0.6 against 0.5, bounds +-log(19).
llr, wins_b, wins_a, stop = 0.0, 0, 0, None
for i, p in enumerate(every):
    wins_b += p["pair"] == "soloB"
    wins_a += p["pair"] == "soloA"
    llr = wins_b * math.log(0.6 / 0.5) + wins_a * math.log(0.4 / 0.5)
    if abs(llr) >= math.log(19):
        stop = i + 1
        break
checks.true(stop is not None and stop < len(every), "the test decides before the seeds run out")
runs = {}
for jobs in (1, 2, 16):
    status, out, err = arena_run(["--compare", "--sprt", "--json", "--jobs", str(jobs), "--csv", f"sprt{jobs}.csv",
                                  "--ticks", str(TICKS), "--seeds", str(SPRT_SEEDS), A, B])
    with open(os.path.join(work, f"sprt{jobs}.csv"), "rb") as f:
        runs[jobs] = (status, out, err, f.read())
    s = json.loads(out)["sprt"]
    checks.equal((status, s["pairs"], s["bWins"], s["aWins"]), (0, stop, wins_b, wins_a), f"test with {jobs} workers")
    checks.equal((s["lastSeed"], s["lastLevel"]), (int(every[stop - 1]["seed"]), int(every[stop - 1]["level"])),
                 f"stopping pair with {jobs} workers")
    checks.true(close(s["llr"], llr) and close(s["upper"], math.log(19)) and close(s["lower"], -math.log(19)),
                f"LLR and bounds with {jobs} workers")
    checks.equal(s["decision"], "H1" if llr > 0 else "H0", f"decision with {jobs} workers")
for jobs in (2, 16):
    checks.equal(runs[jobs], runs[1], f"the whole output with {jobs} workers is that of one")
with open(os.path.join(work, "all.csv"), "rb") as f:
    full = f.read().split(b"\n")
checks.equal(runs[1][3], b"\n".join(full[:stop + 1]) + b"\n", "the test's CSV holds the pairs judged, no more")
status, text, _ = arena_run(["--compare", "--sprt", "--ticks", str(TICKS), "--seeds", str(SPRT_SEEDS), A, B])
checks.true(f"  Pares necesarios: {stop} (hasta la semilla {every[stop - 1]['seed']}, nivel {every[stop - 1]['level']})"
            in text, "pairs needed in the text")
checks.true("  Decisión: se acepta H1: B es mejor\n" in text, "decision in the text")

# --- the progress line of the sequential test on a terminal ------------------------------------

master, slave = pty.openpty()
p = subprocess.Popen([arena, "--compare", "--sprt", "--ticks", str(TICKS), "--seeds", str(SPRT_SEEDS), A, B], cwd=work,
                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave)
os.close(slave)
terminal = b""
while True:
    try:
        chunk = os.read(master, 4096)
    except OSError:  # the terminal's other end was closed
        break
    if not chunk:
        break
    terminal += chunk
os.close(master)
piped = p.stdout.read()
p.wait()
line = (f"SPRT: {stop} pares, {wins_a + wins_b} discordantes (B {wins_b}, A {wins_a}), LLR {llr:.3f} entre "
        f"{-math.log(19):.3f} y {math.log(19):.3f}")
checks.true(terminal.startswith(b"\rSPRT: ") and line.encode() in terminal, f"the progress line: {terminal[-200:]!r}")
checks.equal(piped.decode("utf-8"), text, "standard output is the same with a terminal on standard error")

# Other error rates and p1: the bounds follow.
status, out, _ = arena_run(["--compare", "--sprt", "--json", "--p1", "0.7", "--alpha", "0.1", "--beta", "0.2",
                            "--seeds", "5", A, B])
s = json.loads(out)["sprt"]
checks.true(close(s["lower"], math.log(0.2 / 0.9)) and close(s["upper"], math.log(0.8 / 0.1)) and s["p1"] == 0.7,
            "bounds for alpha 0.1 and beta 0.2")
# Seeds that run out before a decision.
status, out, _ = arena_run(["--compare", "--sprt", "--json", "--seeds", "2", A, A])
s = json.loads(out)["sprt"]
checks.equal((status, s["pairs"], s["decision"]), (0, 6, "ninguna"), "no decision when the seeds run out")

# --- refused combinations ----------------------------------------------------------------------

P1 = "Valor de --p1 no válido: {} (se espera un número mayor que 0.5 y menor que 1)\n"
RATE = "Valor de {} no válido: {} (se espera un número mayor que 0 y menor que 0.5)\n"
COUNT = "--compare necesita exactamente dos programas, A y B (se indicaron {})\n"
bad = [
    (["--compare", A], COUNT.format(1)),
    (["--compare"], COUNT.format(0)),
    (["--compare", A, B, "07_campeon.zkv"], COUNT.format(3)),
    (["--sprt", A, B], "--sprt solo vale junto con --compare\n"),
    (["--compare", "--p1", "0.7", A, B], "--p1, --alpha y --beta solo valen junto con --sprt\n"),
    (["--alpha", "0.1", A], "--p1, --alpha y --beta solo valen junto con --sprt\n"),
    (["--compare", "--verify", "x.csv", A, B], "--compare y --verify no se pueden usar juntos\n"),
    (["--compare", "--profile", A, B], "--profile y --profile-collapsed no valen junto con --compare\n"),
    (["--compare", "--profile-collapsed", "p.txt", A, B],
     "--profile y --profile-collapsed no valen junto con --compare\n"),
    (["--compare", "nada.zkv", B], "No se pudo leer nada.zkv\n"),
]
for value in ("0.5", "1", "0.3", "abc", "", "nan", "inf", "0.6x", "-0.7", " 0.6"):
    bad.append((["--compare", "--sprt", "--p1", value, A, B], P1.format(value)))
for option in ("--alpha", "--beta"):
    for value in ("0", "0.5", "0.7", "-0.1", "x", "1e-400"):
        bad.append((["--compare", "--sprt", option, value, A, B], RATE.format(option, value)))
for args, message in bad:
    checks.equal(arena_run(args), (2, "", message), f"arguments {args}")
with open(os.path.join(work, "roto.zkv"), "w") as f:
    f.write("START\nMOVE ARRIBA\nEND\n")
status, out, err = arena_run(["--compare", A, "roto.zkv"])
checks.equal((status, out), (1, ""), "a program that does not compile stops the comparison")
checks.true(err.endswith("No se puede comparar: roto.zkv no compila\n"), f"message of a program that does not compile: {err!r}")

# --- a signal during a comparison -------------------------------------------------------------

def interrupted(sig, extra):
    with open(os.path.join(work, "big.csv"), "wb") as f:
        f.write(b"an earlier file\n")
    # At 50 ticks no match is won, so the sequential test never decides.
    args = ["--compare", "--json", "--ticks", "50", "--seeds", "1000000", "--csv", "big.csv"] + extra
    p = subprocess.Popen([arena] + args + ["hunter.zkv", "idle.zkv"], cwd=work, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not [n for n in os.listdir(work) if ".tmp-" in n] and p.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    time.sleep(0.5)
    p.send_signal(sig)
    out, err = p.communicate(timeout=120)
    return p.returncode, out.decode("utf-8"), err.decode("utf-8")


for sig, extra in ((signal.SIGINT, []), (signal.SIGTERM, ["--sprt", "--p1", "0.99"])):
    status, out, err = interrupted(sig, extra)
    m = re.match(r"Comparación interrumpida por una señal: se juzgaron (\d+) de 3000000 pares\n"
                 r"El CSV de un barrido interrumpido no se guarda: big.csv queda como estaba\n$", err)
    checks.equal(status, 128 + sig, f"{signal.Signals(sig).name}: exit status")
    if checks.true(m, f"{signal.Signals(sig).name}: standard error says so: {err!r}"):
        checks.equal(json.loads(out)["overall"]["pairs"], int(m.group(1)), "the report counts the pairs judged")
    with open(os.path.join(work, "big.csv"), "rb") as f:
        checks.equal(f.read(), b"an earlier file\n", "the file under the --csv name is unchanged")

checks.finish()
