"""Helpers shared by the arena's end-to-end checks.

Every check is run as `python3 <check>.py path/to/prendax_arena path/to/prendax_cli`
and works in a fresh temporary folder holding copies of the robots, so the paths
written into the CSV are short and relative.
"""
import csv
import io
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROBOTS = os.path.join(HERE, "robots")
MERGE = os.path.join(HERE, "..", "..", "arena", "merge_csv.py")
HEADER = "program,level,seed,outcome,score,health,wave,ticks,vmStatus,steps,budgetHits,error,tickLimit\n"


class Checks:
    """Collects failures so that one run reports every broken case, then exits 1."""

    def __init__(self):
        self.failures = 0
        self.passed = 0

    def equal(self, got, want, what):
        if got == want:
            self.passed += 1
            return True
        self.failures += 1
        print(f"FALLO {what}:\n  obtenido: {got!r}\n  esperado: {want!r}")
        return False

    def true(self, condition, what):
        return self.equal(bool(condition), True, what)

    def finish(self):
        print(f"{self.passed} comprobaciones correctas, {self.failures} fallos")
        sys.exit(1 if self.failures else 0)


def binaries():
    if len(sys.argv) != 3:
        sys.exit("uso: <check>.py prendax_arena prendax_cli")
    return os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


def workdir():
    """A temporary folder with every robot copied in; removed at exit."""
    path = tempfile.mkdtemp(prefix="arena-test-")
    for name in os.listdir(ROBOTS):
        shutil.copy(os.path.join(ROBOTS, name), path)
    import atexit

    atexit.register(shutil.rmtree, path, True)
    return path


def run(args, cwd, stdin=subprocess.DEVNULL):
    """Runs a command; gives (exit status, stdout bytes, stderr bytes)."""
    p = subprocess.run(args, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    return p.returncode, p.stdout, p.stderr


def read_csv(path):
    """The data rows of an arena CSV as dictionaries, after checking the header."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    if not text.startswith(HEADER):
        raise AssertionError(f"{path}: header is {text.splitlines()[0]!r}")
    return list(csv.DictReader(io.StringIO(text, newline="")))


def cli_frame(cli, cwd, program, level, seed, ticks):
    """What prendax_cli --quiet --frame reports for one match, as a CSV row would hold it."""
    import json

    status, out, err = run([cli, "--quiet", "--frame", "--level", str(level), "--seed", str(seed), "--ticks",
                            str(ticks), program], cwd)
    if status != 0:
        raise AssertionError(f"prendax_cli failed on {program}: {err!r}")
    frame = json.loads(out.decode("utf-8"))
    vm, game = frame["vm"], frame["game"]
    error = vm["error"]
    return {
        "outcome": vm["status"],
        "score": str(game["score"]),
        "health": str(game["health"]),
        "wave": str(game["wave"]),
        "ticks": str(vm["ticks"]),
        "vmStatus": str(vm["statusCode"]),
        "steps": str(vm["steps"]),
        "budgetHits": str(vm["budgetHits"]),
        "error": "" if error is None else f"línea {error['line']}: {error['message']}",
        "tickLimit": str(ticks),
    }
