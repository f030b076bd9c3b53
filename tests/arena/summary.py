#!/usr/bin/env python3
"""The summary: every figure of the text and of the --json document is worked out
again here from the CSV of the same run (counts, win rate and its Wilson
interval, mean and median score, mean health and ticks, run-time errors and
the most frequent one, worst seeds, ranking) and the whole text is compared
byte for byte. A program that does not compile is reported with prendax_cli's
own diagnostic lines while the others still play; the progress bar appears
only when standard error is a terminal."""
import json
import math
import os
import pty
import re
import select
import subprocess

from arena_testlib import Checks, binaries, read_csv, run, workdir

arena, cli = binaries()
work = workdir()
checks = Checks()
STATUS_NAMES = ["listo", "ejecutando", "esperando", "halt", "victoria", "derrota", "error"]


def wilson(wins, n, z=1.96):
    p = wins / n
    d = 1 + z * z / n
    c = (p + z * z / (2 * n)) / d
    m = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / d
    return max(0.0, c - m), min(1.0, c + m)


def median(values):
    v = sorted(values)
    n = len(v)
    return (v[(n - 1) // 2] + v[n // 2]) / 2


def level_figures(rows):
    n = len(rows)
    wins = sum(r["outcome"] == "victoria" for r in rows)
    losses = sum(r["outcome"] == "derrota" for r in rows)
    errors = [r["error"] for r in rows if r["error"]]
    counts = {}
    for e in errors:
        counts[e] = counts.get(e, 0) + 1
    top = min(counts, key=lambda e: (-counts[e], e.encode())) if counts else None
    worst = sorted(rows, key=lambda r: (r["outcome"] != "derrota", int(r["score"]), int(r["seed"])))[:5]
    won = [int(r["ticks"]) for r in rows if r["outcome"] == "victoria"]
    low, high = wilson(wins, n)
    return {
        "level": int(rows[0]["level"]), "matches": n, "victories": wins, "defeats": losses,
        "unfinished": n - wins - losses, "winRate": wins / n, "winRateLow": low, "winRateHigh": high,
        "meanScore": sum(int(r["score"]) for r in rows) / n, "medianScore": median([int(r["score"]) for r in rows]),
        "meanHealth": sum(int(r["health"]) for r in rows) / n, "meanTicks": sum(int(r["ticks"]) for r in rows) / n,
        "runtimeErrors": len(errors), "topError": top, "topErrorCount": counts.get(top, 0),
        "worstSeeds": [{"seed": int(r["seed"]), "outcome": r["outcome"], "score": int(r["score"])} for r in worst],
        "_replay": (int(rows[0]["level"]), int(worst[0]["seed"]), int(worst[0]["tickLimit"])),
        "_sums": (sum(int(r["score"]) for r in rows), sum(int(r["health"]) for r in rows), sum(won)),
    }


def expected_text(programs, figures, compile_errors, seeds, ticks):
    out = [f"Arena PRENDAX 1.0.0 — programas: {len(programs)}  niveles: 1,2,3  semillas: {seeds}  ticks: {ticks}\n"]
    for p in programs:
        out.append(f"\n== {p} ==\n")
        if p in compile_errors:
            out.append(f"No compila (errores: {compile_errors[p]})\n")
            continue
        for f in figures[p]:
            out.append(f"Nivel {f['level']}\n")
            out.append(f"  Partidas: {f['matches']}  victorias: {f['victories']}  derrotas: {f['defeats']}  "
                       f"sin terminar: {f['unfinished']}\n")
            out.append("  Tasa de victorias: %.1f%% (IC 95%%: %.1f%% a %.1f%%)\n"
                       % (100 * f["winRate"], 100 * f["winRateLow"], 100 * f["winRateHigh"]))
            out.append("  Puntuación media: %.1f  mediana: %.1f\n" % (f["meanScore"], f["medianScore"]))
            out.append("  Salud media restante: %.1f\n" % f["meanHealth"])
            out.append("  Ticks medios: %.1f\n" % f["meanTicks"])
            if f["topError"] is None:
                out.append("  Errores de ejecución: 0\n")
            else:
                out.append(f"  Errores de ejecución: {f['runtimeErrors']} (el más frecuente, {f['topErrorCount']} "
                           f"veces: {f['topError']})\n")
            seeds_text = ",".join(f" {w['seed']} ({w['outcome']}, {w['score']})" for w in f["worstSeeds"])
            out.append(f"  Peores semillas:{seeds_text}\n")
            level, seed, limit = f["_replay"]
            out.append(f"  Repetir la peor: prendax_cli --ticks {limit} --level {level} --seed {seed} {p}\n")
            out.append(f"                   prendax_replay --ticks {limit} --level {level} --seed {seed} {p} "
                       f"-o partida.html\n")
    ranked = ranking(programs, figures, compile_errors)
    if len(programs) > 1:
        out.append(f"\nClasificación ({ORDER})\n")
        for place, (p, t) in enumerate(ranked, 1):
            per_win = "-" if t["victories"] == 0 else "%.1f" % (t["winTicks"] / t["victories"])
            out.append("  %d. %s: victorias %d/%d (%.1f%%), derrotas %d, puntuación media %.1f, salud media %.1f, "
                       "ticks por victoria %s\n"
                       % (place, p, t["victories"], t["matches"], 100 * t["victories"] / t["matches"], t["defeats"],
                          t["scoreSum"] / t["matches"], t["healthSum"] / t["matches"], per_win))
    return "".join(out)


ORDER = ("más victorias; si empatan, menos derrotas, mayor puntuación media, más salud media restante y menos ticks "
         "medios por victoria")


def ranking(programs, figures, compile_errors):
    totals = []
    for i, p in enumerate(programs):
        if p in compile_errors:
            continue
        fs = figures[p]
        t = {"matches": sum(f["matches"] for f in fs), "victories": sum(f["victories"] for f in fs),
             "defeats": sum(f["defeats"] for f in fs), "scoreSum": sum(f["_sums"][0] for f in fs),
             "healthSum": sum(f["_sums"][1] for f in fs), "winTicks": sum(f["_sums"][2] for f in fs)}
        per_win = t["winTicks"] / t["victories"] if t["victories"] else 0
        totals.append(((-t["victories"], t["defeats"], -t["scoreSum"] / t["matches"], -t["healthSum"] / t["matches"],
                        per_win, i), p, t))
    return [(p, t) for _, p, t in sorted(totals)]


def close(a, b):
    if isinstance(a, float) or isinstance(b, float):
        return math.isclose(a, b, rel_tol=1e-5, abs_tol=1e-9)  # the document writes 6 significant digits
    return a == b


def same_figures(got, want):
    want = {k: v for k, v in want.items() if not k.startswith("_")}
    return set(got) == set(want) and all(close(got[k], want[k]) for k in want)


def figures_from_csv(path, programs):
    rows = read_csv(path)
    figures = {}
    for p in programs:
        mine = [r for r in rows if r["program"] == p]
        figures[p] = [level_figures([r for r in mine if r["level"] == str(lv)]) for lv in (1, 2, 3)
                      if any(r["level"] == str(lv) for r in mine)]
    return rows, figures


# One program that does not compile between three that do.
programs = ["hunter.zkv", "broken.zkv", "erratic.zkv", "idle.zkv"]
status, text_out, text_err = run([arena, "--seeds", "1-25", "--ticks", "1600", "--csv", "text.csv"] + programs, work)
cli_status, cli_out, cli_err = run([cli, "broken.zkv"], work)
checks.equal(status, 1, "exit status when one program does not compile")
checks.equal(cli_status, 1, "prendax_cli refuses the same program")
# With several programs each diagnostic line names its program first.
named_err = b"".join(b"broken.zkv: " + line for line in cli_err.splitlines(keepends=True))
checks.equal(text_err, named_err, "the diagnostic lines are prendax_cli's, after the program's path")
rows, figures = figures_from_csv(os.path.join(work, "text.csv"), programs)
checks.equal(len(rows), 3 * 3 * 25, "rows: the compiled programs only")
checks.equal(sorted({r["program"] for r in rows}), ["erratic.zkv", "hunter.zkv", "idle.zkv"],
             "no rows for the program that does not compile")
checks.true(any(f["victories"] for f in figures["hunter.zkv"]), "the sweep holds victories")
checks.true(any(f["defeats"] for f in figures["idle.zkv"]), "the sweep holds defeats")
checks.true(any(f["runtimeErrors"] for f in figures["erratic.zkv"]), "the sweep holds run-time errors")
diagnostic_count = len(cli_err.decode("utf-8").splitlines())
want_text = expected_text(programs, figures, {"broken.zkv": diagnostic_count}, "1-25", 1600)
checks.equal(text_out.decode("utf-8"), want_text, "the text summary, worked out again from the CSV")

# The same run as JSON.
status, json_out, json_err = run([arena, "--json", "--seeds", "1-25", "--ticks", "1600"] + programs, work)
checks.equal((status, json_err), (1, named_err), "--json: exit status and diagnostic lines")
doc = json.loads(json_out.decode("utf-8"))
checks.equal(json_out.count(b"\n"), 1, "the document is one line")
checks.equal((doc["version"], doc["firstSeed"], doc["lastSeed"], doc["ticks"], doc["levels"]),
             ("1.0.0", 1, 25, 1600, [1, 2, 3]), "the run's settings in the document")
checks.equal([p["program"] for p in doc["programs"]], programs, "programs in command-line order")
for p in doc["programs"]:
    name = p["program"]
    if name == "broken.zkv":
        checks.equal((p["compiled"], p["levels"]), (0, []), "the program that does not compile")
        lines = ["[%s] línea %d, col %d: %s" % (d["phaseName"], d["line"], d["col"], d["message"])
                 for d in p["diagnostics"]]
        checks.equal(lines, cli_err.decode("utf-8").splitlines(), "its diagnostics in the document")
        continue
    checks.equal((p["compiled"], p["diagnostics"]), (1, []), f"{name} compiled")
    checks.equal(len(p["levels"]), 3, f"{name}: three levels")
    for got, want in zip(p["levels"], figures[name]):
        checks.true(same_figures(got, want), f"{name} level {want['level']}: {got} against {want}")
want_rank = ranking(programs, figures, {"broken.zkv": diagnostic_count})
checks.equal([(r["rank"], r["program"], r["matches"], r["victories"], r["defeats"])
              for r in doc["leaderboard"]],
             [(i, p, t["matches"], t["victories"], t["defeats"]) for i, (p, t) in enumerate(want_rank, 1)],
             "the ranking in the document")
checks.equal(doc["leaderboardOrder"], ORDER, "the ranking's order stated in the document")
last = doc["leaderboard"][-1]
checks.true(close(last["meanHealth"], want_rank[-1][1]["healthSum"] / 75) and last["meanVictoryTicks"] is None,
            f"the last program's health and its ticks per victory (none): {last}")

# One level, one program, a range of its own; ticks 0 plays nothing.
status, out, err = run([arena, "--json", "--levels", "2", "--seeds", "10-13", "--ticks", "0", "idle.zkv"], work)
doc = json.loads(out.decode("utf-8"))
level = doc["programs"][0]["levels"][0]
checks.equal((status, doc["levels"], level["level"], level["matches"], level["unfinished"], level["meanTicks"],
              level["meanHealth"], [w["seed"] for w in level["worstSeeds"]]),
             (0, [2], 2, 4, 4, 0, 100, [10, 11, 12, 13]), "a sweep with --ticks 0")
checks.equal([r["program"] for r in doc["leaderboard"]], ["idle.zkv"], "a ranking of one")

# Every program broken: nothing to play, header only.
status, out, err = run([arena, "--csv", "none.csv", "broken.zkv"], work)
with open(os.path.join(work, "none.csv"), encoding="utf-8") as f:
    checks.equal((status, f.read()), (1, "program,level,seed,outcome,score,health,wave,ticks,vmStatus,steps,"
                                         "budgetHits,error,tickLimit\n"), "only a program that does not compile")
checks.true("Clasificación" not in out.decode("utf-8"), "no ranking for a single program")

# A document with the most diagnostics and the longest escapes is still whole.
many_errors = "START\n" + "SET x 1 @ $ ~\n" * 40 + "END\n"
names = []
for i in range(12):
    name = f"{i}_" + '"\\\x01,ñ' * 40 + ".zkv"
    with open(os.path.join(work, name), "w", encoding="utf-8") as f:
        f.write(many_errors)
    names.append(name)
status, out, err = run([arena, "--json", "--seeds", "2", "erratic.zkv"] + names, work)
doc = json.loads(out.decode("utf-8"))
checks.equal((status, [p["program"] for p in doc["programs"]], [len(p["diagnostics"]) for p in doc["programs"]]),
             (1, ["erratic.zkv"] + names, [0] + [32] * 12), "a document with 32 diagnostics per program")

# The progress bar: only on a terminal, and it leaves standard output alone.
def run_with_tty_stderr(args):
    master, slave = pty.openpty()
    p = subprocess.Popen(args, cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    err = b""
    while True:
        ready, _, _ = select.select([master], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        err += chunk
    out = p.stdout.read()
    p.wait()
    os.close(master)
    return p.returncode, out, err


args = [arena, "--seeds", "1-30", "--ticks", "300", "hunter.zkv", "idle.zkv"]
plain = run(args, work)
checks.equal(plain[2], b"", "no progress bar when standard error is not a terminal")
try:
    status, out, err = run_with_tty_stderr(args)
except OSError as e:
    print(f"sin pseudoterminal ({e}): no se comprueba la barra de progreso")
else:
    checks.equal((status, out), (plain[0], plain[1]), "standard output is the same with a terminal on standard error")
    last = err.decode("utf-8").replace("\r\n", "\n").split("\r")[-1]
    checks.true(re.fullmatch(r"\[#{24}\] 180/180 partidas  \d+ partidas/s  quedan 0:00\x1b\[K\n", last),
                f"the finished bar: {last!r}")
checks.finish()
