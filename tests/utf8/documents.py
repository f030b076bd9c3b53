"""Every JSON document the tools write parses as strict UTF-8 JSON, whatever
bytes the robot's source or its path hold.

Run as: documents.py prendax_cli prendax_arena prendax_replay

The documents: the compile result and the frame of prendax_cli, the summary of
prendax_arena, and the page data and the frame lines of prendax_replay. The
sources hold accented letters outside comments and strings, string literals
with bytes that are not UTF-8, and the paths hold such bytes too.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# U+FFFD, the replacement character.
REPLACEMENT = "\ufffd"

# A robot that compiles and plays, with a comment that is not UTF-8 (the
# comment's bytes travel in the replay page's source).
PLAYS = b"START // cami\xf3n \xc3\nREPEAT 3 { SHOOT WAIT 2 }\nEND\n"
# Accents in a name, a string literal with stray bytes, a cut character.
FAILS = b'START\nSET posici\xc3\xb3n 0\nSET x "a\xff\xc3"\nSHOOT \xe2\x82\nEND\n'


class Checks:
    def __init__(self):
        self.failures = 0
        self.passed = 0

    def true(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failures += 1
            print(f"FALLO {what}")
        return condition

    def strict(self, data, what):
        """The document decoded as strict UTF-8 and parsed; None when it is not."""
        try:
            value = json.loads(data.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            self.true(False, f"{what}: {e}")
            return None
        self.passed += 1
        return value


def run(args, cwd):
    p = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    return p.returncode, p.stdout, p.stderr


def page_blocks(page):
    """The JSON text inside the page's data blocks: the description, then each frame line."""
    meta = re.search(rb'<script type="application/json" id="replay-meta">(.*?)</script>', page, re.S)
    frames = re.search(rb'<script type="application/json" id="replay-frames">(.*?)</script>', page, re.S)
    if meta is None or frames is None:
        return None, []
    return meta.group(1), [line for line in frames.group(1).split(b"\n") if line]


def main():
    if len(sys.argv) != 4:
        sys.exit("uso: documents.py prendax_cli prendax_arena prendax_replay")
    cli, arena, replay = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix="utf8-documents-")
    checks = Checks()
    try:
        # Names in Latin-1 and in UTF-8: one is not UTF-8 at all.
        plays = os.path.join(work.encode(), b"robot_j\xfaega.zkv")
        fails = os.path.join(work.encode(), "robot_falla_ñ.zkv".encode())
        with open(plays, "wb") as f:
            f.write(PLAYS)
        with open(fails, "wb") as f:
            f.write(FAILS)
        plays_name = os.path.basename(plays)
        fails_name = os.path.basename(fails)

        # prendax_cli: the compile result of both, the frame of the one that plays.
        status, out, err = run([cli, "--json", fails_name], work)
        checks.true(status == 1, f"prendax_cli --json de la fuente que no compila sale con {status}")
        doc = checks.strict(out, "resultado de compilación con errores")
        if doc is not None:
            messages = [e["message"] for e in doc["errors"]]
            checks.true(messages.count(f"Carácter no reconocido '{REPLACEMENT}'") == 4, f"mensajes: {messages}")
        # Standard error keeps the lone bytes as they stand.
        checks.true(b"Car\xc3\xa1cter no reconocido '\xc3'\n" in err, "la consola conserva el byte suelto")
        status, out, _ = run([cli, "--json", plays_name], work)
        checks.strict(out, "resultado de compilación correcto")
        status, out, _ = run([cli, "--quiet", "--frame", plays_name], work)
        checks.strict(out.splitlines()[-1] if out else b"", "fotograma de prendax_cli")

        # prendax_arena: the summary names both programs by their paths.
        status, out, err = run([arena, "--seeds", "3", "--levels", "1,2", "--json", plays_name, fails_name], work)
        doc = checks.strict(out, "resumen de prendax_arena")
        if doc is not None:
            names = [p["program"] for p in doc["programs"]]
            checks.true(names == ["robot_j" + REPLACEMENT + "ega.zkv", "robot_falla_ñ.zkv"], f"programas: {names}")

        # prendax_replay: the page's data blocks and the frame lines.
        page = os.path.join(work, "p.html")
        status, out, err = run([replay, plays_name, "-o", page, "--jsonl", "f.jsonl"], work)
        checks.true(status == 0, f"prendax_replay sale con {status}: {err!r}")
        if status == 0:
            with open(page, "rb") as f:
                meta, frames = page_blocks(f.read())
            doc = checks.strict(meta or b"", "descripción de la página")
            if doc is not None:
                checks.true(doc["name"] == "robot_j" + REPLACEMENT + "ega.zkv", f"nombre: {doc['name']!r}")
            checks.true(len(frames) > 1, "la página tiene fotogramas")
            bad = [i for i, line in enumerate(frames) if checks.strict(line, f"fotograma {i} de la página") is None]
            checks.true(not bad, f"fotogramas de la página que no se leen: {bad[:5]}")
            with open(os.path.join(work, "f.jsonl"), "rb") as f:
                lines = f.read().splitlines()
            bad = [i for i, line in enumerate(lines) if checks.strict(line, f"línea {i} de --jsonl") is None]
            checks.true(lines and not bad, f"líneas de --jsonl que no se leen: {bad[:5]}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{checks.passed} comprobaciones correctas, {checks.failures} fallos")
    sys.exit(1 if checks.failures else 0)


if __name__ == "__main__":
    main()
