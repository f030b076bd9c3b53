#!/usr/bin/env python3
"""The README's table of example robots, produced by the tool itself.

Every golden case named example_* under tests/golden/ plays one robot of
examples/ at a fixed level and seed. This script replays each case with the
same arguments plus --quiet --frame, reads the frame document and writes one
table row: robot, level, seed, outcome (the VM status that the result block
prints), score, ticks (the "Ticks:" of the result block, the VM's own count)
and the health left.

  examples_table.py --bin PRENDAX_CLI                 print the table
  examples_table.py --bin PRENDAX_CLI --check README  exit 1 when the README's table differs
  examples_table.py --bin PRENDAX_CLI --write README  rewrite the table inside the README

The table stands between the two marker lines BEGIN_MARK and END_MARK; the
rest of the README is never touched.
"""
import argparse
import difflib
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GOLDEN = os.path.join(ROOT, "tests", "golden")
BEGIN_MARK = "<!-- examples-table:begin (written by tests/docs/examples_table.py) -->"
END_MARK = "<!-- examples-table:end -->"
HEADER = ["robot", "level", "seed", "outcome", "score", "ticks", "health"]

# The values the command line starts from when an option is not given.
DEFAULT_LEVEL = "1"
DEFAULT_SEED = "12345"


def read_args(case_dir):
    with open(os.path.join(case_dir, "args"), encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.rstrip("\n") != ""]


def option_value(args, name, default):
    """The value of the last occurrence of a value option, as the tool scans it."""
    value = default
    i = 0
    while i < len(args):
        if args[i] in ("--ticks", "--seed", "--level") and i + 1 < len(args):
            if args[i] == name:
                value = args[i + 1]
            i += 2
            continue
        i += 1
    return value


def robot_path(args):
    robots = [a for a in args if a.endswith(".zkv") and not a.startswith("-")]
    if not robots:
        return None
    return robots[-1]


def case_row(binary, case_dir):
    args = read_args(case_dir)
    robot = robot_path(args)
    if robot is None:
        raise SystemExit("%s: the args name no .zkv file" % case_dir)
    run = subprocess.run([binary] + args + ["--quiet", "--frame"], cwd=case_dir,
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if run.returncode != 0:
        raise SystemExit("%s: prendax_cli exited with %d: %s"
                         % (case_dir, run.returncode, run.stderr.decode("utf-8", "replace")))
    lines = run.stdout.decode("utf-8").splitlines()
    if not lines:
        raise SystemExit("%s: prendax_cli printed no frame" % case_dir)
    frame = json.loads(lines[-1])
    robot_file = os.path.relpath(os.path.normpath(os.path.join(case_dir, robot)), ROOT)
    name = os.path.splitext(os.path.basename(robot_file))[0]
    return ["[%s](%s)" % (name, robot_file.replace(os.sep, "/")),
            option_value(args, "--level", DEFAULT_LEVEL),
            option_value(args, "--seed", DEFAULT_SEED),
            frame["vm"]["status"],
            str(frame["game"]["score"]),
            str(frame["vm"]["ticks"]),
            str(frame["game"]["health"])]


def table_lines(binary):
    cases = sorted(d for d in os.listdir(GOLDEN)
                   if d.startswith("example_") and os.path.isdir(os.path.join(GOLDEN, d)))
    if not cases:
        raise SystemExit("no example_* golden cases under %s" % GOLDEN)
    rows = [case_row(binary, os.path.join(GOLDEN, c)) for c in cases]
    lines = ["| " + " | ".join(HEADER) + " |",
             "|" + "|".join("---" for _ in HEADER) + "|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return lines


def split_readme(text, path):
    lines = text.split("\n")
    try:
        begin = lines.index(BEGIN_MARK)
        end = lines.index(END_MARK, begin + 1)
    except ValueError:
        raise SystemExit("%s: the marker lines of the examples table are missing:\n%s\n%s"
                         % (path, BEGIN_MARK, END_MARK))
    return lines[:begin + 1], lines[begin + 1:end], lines[end:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="path of prendax_cli")
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--check", metavar="README")
    group.add_argument("--write", metavar="README")
    opts = parser.parse_args()

    binary = os.path.abspath(opts.bin)
    fresh = table_lines(binary)
    if opts.check is None and opts.write is None:
        print("\n".join(fresh))
        return 0

    path = opts.check or opts.write
    with open(path, encoding="utf-8") as f:
        text = f.read()
    head, current, tail = split_readme(text, path)
    if opts.write:
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(head + fresh + tail))
        return 0
    if current != fresh:
        print("%s: the examples table differs from what the tool gives now." % path)
        print("Run: python3 tests/docs/examples_table.py --bin build/bin/prendax_cli --write README.md")
        sys.stdout.writelines(difflib.unified_diff([l + "\n" for l in current], [l + "\n" for l in fresh],
                                                   "README.md", "prendax_cli"))
        return 1
    print("%s: the examples table agrees with the tool (%d rows)." % (path, len(fresh) - 2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
