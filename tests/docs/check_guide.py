#!/usr/bin/env python3
"""Checks the player's guide against the real prendax_cli, so the two cannot drift.

  check_guide.py --bin PRENDAX_CLI [--tool OTHER_TOOL ...] [--guide docs/guia.md] [--update]

With --update the outputs quoted in the guide (the ```text blocks after the
```zkv error blocks and the output lines of the ```consola blocks) are
rewritten from the tool instead, for a person to read and approve.

What the guide marks and what is checked:

  ```zkv                 compiles: `prendax_cli --json` exits 0 with "ok" 1 and
                         nothing on standard error.
  ```zkv error           does not compile: exit 1, "ok" 0, and standard error
                         equals the next fenced block, which must be a ```text
                         block (the diagnostic lines the guide quotes).
  ```zkv NAME.zkv        (with or without error) also saves the program under
                         NAME.zkv for the ```consola blocks that follow.
  ```consola             a terminal session: every line that begins with "$ "
                         is a command, run by bash in a scratch folder that
                         holds the saved programs and a link "examples" to the
                         examples folder, with prendax_cli (and every --tool)
                         on the PATH and
                         standard input empty; the other lines are the output
                         (standard output and standard error together) and
                         must equal it byte for byte.
  <!-- tabla-diagnosticos -->
                         the table after it lists messages as code spans, with
                         <...> for the parts that vary. Every row must match a
                         diagnostic that some block of the guide really
                         produces, and every diagnostic produced must match a
                         row of the same phase.
  <!-- claves-json: compilacion -->  /  <!-- claves-json: frame -->
                         the table after it lists every key of that document
                         (nested keys as a.b, list items as a[].b) with its
                         type; it must list exactly the keys that the tool
                         writes, in the order it writes them, with types
                         that agree with the values.

  ```lua, ```json, ```elisp, ```toml
                         editor configuration, checked by the language
                         server's tests (tests/lsp).

Any other kind of fenced block is refused, so a snippet cannot escape the
checks through a misspelt tag.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

DIAG_LINE = re.compile(r"^\[(\w+)\] línea (-?\d+), col (-?\d+): (.*)$")
RUNTIME_LINE = re.compile(r"^Error de ejecución: línea (-?\d+): (.*)$")
KNOWN_LANGS = ("zkv", "consola", "text")
# Editor configuration (the chapter on prendax_lsp): the language server's own
# tests load these blocks into the editors and clients they configure.
EDITOR_LANGS = ("lua", "json", "elisp", "toml")
SEPARATOR = "\x1e-- orden --"
CODE_SPAN = re.compile(r"`([^`]+)`")
TYPE_CHECKS = {
    "entero": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "número": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
    "texto": lambda v: isinstance(v, str),
    "lista": lambda v: isinstance(v, list),
    "objeto": lambda v: isinstance(v, dict),
    "objeto o null": lambda v: v is None or isinstance(v, dict),
}

# Programs whose documents, together, hold every key of each document.
COMPILE_SAMPLES = [
    ["--json"], "SET x 2.5\nIF x > 1 { SHOOT } ELSE { MOVE LEFT }\n",
    ["--json"], "SET x = 5\n",
]
FRAME_SAMPLES = [
    # enemies, bullets, explosions and a run-time error that leaves a value on the stack
    ["--quiet", "--frame", "--ticks", "400"],
    "SET n 0.5\nWHILE 1 { SHOOT WAIT 1 SET n n + 1 IF n > 300 { SET z 0.5 + 1 / (n - n) } }\n",
    # no error: "error" is null
    ["--quiet", "--frame", "--ticks", "5"], "SHIELD WAIT 3\n",
]


class Block:
    def __init__(self, info, lines, line_no, indent):
        words = info.split()
        self.lang = words[0] if words else ""
        self.flags = words[1:]
        self.text = "".join(l + "\n" for l in lines)
        self.line_no = line_no  # 1-based line of the opening fence
        self.indent = indent  # spaces before the fence, kept on every line when rewriting
        self.replacement = None  # the text the tool gives, when it differs


def parse_guide(text):
    """Fenced blocks (also indented ones, inside list items) and the HTML comment markers."""
    blocks, markers = [], []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        indent = len(line) - len(line.lstrip(" "))
        if line.lstrip(" ").startswith("```"):
            info = line.lstrip(" ")[3:].strip()
            start = i + 1
            j = start
            while j < len(lines) and not lines[j].lstrip(" ").startswith("```"):
                j += 1
            if j == len(lines):
                raise SystemExit("guía, línea %d: bloque sin cerrar" % (i + 1))
            inner = [l[indent:] if l[:indent].strip() == "" else l for l in lines[start:j]]
            blocks.append(Block(info, inner, i + 1, indent))
            i = j + 1
            continue
        m = re.match(r"^<!-- *([\w-]+)(?:: *([\w-]+))? *-->$", line.strip())
        if m:
            markers.append((m.group(1), m.group(2), i))
        i += 1
    return blocks, markers, lines


def update_guide(lines, blocks):
    """The guide's lines with every differing quoted output replaced."""
    out = list(lines)
    for block in sorted(blocks, key=lambda b: b.line_no, reverse=True):
        if block.replacement is None:
            continue
        start = block.line_no  # index of the first line inside the fence
        end = start + len(block.text.split("\n")) - 1
        out[start:end] = [(" " * block.indent + l) if l else l
                          for l in block.replacement.split("\n")[:-1]]
    return out


def table_after(lines, index):
    """The rows (lists of cells) of the markdown table that follows line index."""
    i = index + 1
    while i < len(lines) and lines[i].strip() == "":
        i += 1
    rows = []
    while i < len(lines) and lines[i].startswith("|"):
        cells = [c.strip() for c in re.split(r"(?<!\\)\|", lines[i].strip().strip("|"))]
        rows.append((i + 1, cells))
        i += 1
    return rows[2:]  # without the header and the separator


class Checker:
    def __init__(self, binary, guide_path, tools=()):
        self.binary = binary
        self.tools = list(tools)
        self.guide_path = guide_path
        self.failures = []
        self.seen = []  # (phase, message, guide line) of every diagnostic produced
        self.counts = {"zkv": 0, "error": 0, "consola": 0}
        self.work = tempfile.mkdtemp(prefix="prendax_guia_")

    def fail(self, line_no, text):
        self.failures.append("%s:%d: %s" % (self.guide_path, line_no, text))

    def run_cli(self, args, source):
        path = os.path.join(self.work, "bloque.zkv")
        with open(path, "wb") as f:
            f.write(source.encode("utf-8"))
        run = subprocess.run([self.binary] + args + [path], stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=60)
        return run.returncode, run.stdout.decode("utf-8", "replace"), run.stderr.decode("utf-8", "replace")

    def note_diagnostics(self, output, line_no):
        for line in output.split("\n"):
            m = DIAG_LINE.match(line)
            if m:
                self.seen.append((m.group(1), m.group(4), line_no))
            m = RUNTIME_LINE.match(line)
            if m:
                self.seen.append(("ejecucion", m.group(2), line_no))

    def check_zkv(self, block, following):
        status, out, err = self.run_cli(["--json"], block.text)
        try:
            ok = json.loads(out)["ok"]
        except (ValueError, KeyError):
            self.fail(block.line_no, "--json no dio un documento de compilación: %r" % out[:200])
            return
        if "error" not in block.flags:
            self.counts["zkv"] += 1
            if status != 0 or ok != 1 or err != "":
                self.fail(block.line_no, "el programa no compila (estado %d):\n%s" % (status, err))
            return
        self.counts["error"] += 1
        if following is None or following.lang != "text":
            self.fail(block.line_no, "a un bloque zkv error le debe seguir un bloque text con sus diagnósticos")
            return
        if status != 1 or ok != 0:
            self.fail(block.line_no, "el programa debía fallar al compilar y dio el estado %d" % status)
        if err != following.text:
            following.replacement = err
            self.fail(following.line_no, "los diagnósticos no coinciden.\nla guía:\n%sla herramienta:\n%s"
                      % (following.text, err))
        self.note_diagnostics(err, block.line_no)

    def check_consola(self, block, saved):
        self.counts["consola"] += 1
        folder = tempfile.mkdtemp(dir=self.work)
        for name, text in saved.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(text.encode("utf-8"))
        os.symlink(os.path.join(ROOT, "examples"), os.path.join(folder, "examples"))
        commands, expected = [], []
        for line in block.text.split("\n")[:-1]:
            if line.startswith("$ "):
                commands.append(line[2:])
                expected.append("")
            elif commands:
                expected[-1] += line + "\n"
            else:
                self.fail(block.line_no, "un bloque consola debe empezar por una orden ($ ...)")
                return
        if not commands:
            self.fail(block.line_no, "un bloque consola sin ninguna orden ($ ...)")
            return
        # A separator line before each command splits the output per command;
        # the status of the command before it is kept for "echo $?".
        script = "exec 2>&1\n" + "".join("st=$?; printf '%s\\n'; (exit $st)\n%s\n" % (SEPARATOR, c)
                                          for c in commands)
        env = dict(os.environ)
        folders = [os.path.dirname(tool) for tool in [self.binary] + self.tools]
        env["PATH"] = os.pathsep.join(folders + [env.get("PATH", "")])
        env["LC_ALL"] = "C"
        run = subprocess.run(["bash", "-c", script], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, timeout=300)
        pieces = run.stdout.decode("utf-8", "replace").split(SEPARATOR + "\n")[1:]
        got = "".join(pieces)
        if pieces != expected:
            block.replacement = "".join("$ %s\n%s" % (c, p) for c, p in zip(commands, pieces))
            self.fail(block.line_no, "la salida no coincide.\nla guía:\n%sla herramienta:\n%s"
                      % ("".join(expected), got))
        self.note_diagnostics(got, block.line_no)

    def check_blocks(self, blocks):
        saved = {}
        for k, block in enumerate(blocks):
            following = blocks[k + 1] if k + 1 < len(blocks) else None
            if block.lang == "zkv":
                self.check_zkv(block, following)
                for flag in block.flags:
                    if flag.endswith(".zkv"):
                        saved[flag] = block.text
            elif block.lang == "consola":
                self.check_consola(block, saved)
            elif block.lang not in KNOWN_LANGS + EDITOR_LANGS:
                self.fail(block.line_no, "bloque de clase desconocida %r: usa zkv, consola o text (o, en el "
                          "capítulo de editores, lua, json, elisp o toml)" % block.lang)

    def check_diagnostic_table(self, lines, markers):
        places = [i for name, _, i in markers if name == "tabla-diagnosticos"]
        if len(places) != 1:
            self.fail(1, "la guía debe tener una tabla de diagnósticos marcada (hay %d)" % len(places))
            return
        rows = []
        for line_no, cells in table_after(lines, places[0]):
            spans = CODE_SPAN.findall(cells[1]) if len(cells) > 1 else []
            if len(cells) < 4 or not spans:
                self.fail(line_no, "fila de la tabla de diagnósticos sin fase, mensaje, causa y arreglo")
                continue
            phase = cells[0].strip("`* ")
            parts = re.split(r"<[^<>]+>", spans[0])
            pattern = re.compile(".*?".join(re.escape(p) for p in parts) + r"\Z")
            rows.append((line_no, phase, spans[0], pattern))
        if not rows:
            self.fail(places[0] + 1, "la tabla de diagnósticos está vacía")
        for line_no, phase, text, pattern in rows:
            if not any(p == phase and pattern.match(m) for p, m, _ in self.seen):
                self.fail(line_no, "ningún ejemplo de la guía produce [%s] %s" % (phase, text))
        for phase, message, line_no in self.seen:
            if not any(p == phase and pattern.match(message) for _, p, _, pattern in rows):
                self.fail(line_no, "la tabla de diagnósticos no recoge [%s] %s" % (phase, message))

    def sample_documents(self, samples):
        docs = []
        for k in range(0, len(samples), 2):
            status, out, err = self.run_cli(samples[k], samples[k + 1])
            docs.append(json.loads(out.strip().split("\n")[-1]))
        return docs

    def check_key_table(self, lines, markers, which, samples):
        places = [i for name, arg, i in markers if name == "claves-json" and arg == which]
        if len(places) != 1:
            self.fail(1, "la guía debe tener una tabla de claves %s marcada (hay %d)" % (which, len(places)))
            return
        observed = {}
        sibling_orders = []  # the keys of every object, in the order the document writes them

        def walk(value, path):
            observed.setdefault(path, []).append(value)
            if isinstance(value, dict):
                sibling_orders.append([key if path == "" else path + "." + key for key in value])
                for key, item in value.items():
                    walk(item, key if path == "" else path + "." + key)
            elif isinstance(value, list):
                for item in value:
                    walk(item, path + "[]")

        for doc in self.sample_documents(samples):
            walk(doc, "")
        observed.pop("", None)
        listed = {}
        for line_no, cells in table_after(lines, places[0]):
            spans = CODE_SPAN.findall(cells[0]) if cells else []
            kind = cells[1].strip("`* ") if len(cells) > 1 else ""
            if not spans or kind not in TYPE_CHECKS:
                self.fail(line_no, "fila de claves sin clave o con un tipo desconocido: %r" % kind)
                continue
            key = spans[0]
            listed[key] = line_no
            if key not in observed:
                self.fail(line_no, "el documento %s no tiene la clave %s" % (which, key))
            elif not all(TYPE_CHECKS[kind](v) for v in observed[key]):
                self.fail(line_no, "la clave %s no es siempre de tipo %s: %r"
                          % (key, kind, sorted({type(v).__name__ for v in observed[key]})))
        for key in sorted(set(observed) - set(listed)):
            self.fail(places[0] + 1, "la tabla de claves %s no recoge la clave %s" % (which, key))
        # The table lists the keys of each object in the order the document writes them.
        for keys in sibling_orders:
            rows = [listed[k] for k in keys if k in listed]
            if rows != sorted(rows):
                self.fail(places[0] + 1, "la tabla de claves %s no sigue el orden del documento: %s"
                          % (which, ", ".join(keys)))
                break


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="path of prendax_cli")
    parser.add_argument("--tool", action="append", default=[],
                        help="another tool the consola blocks run (prendax_arena), found through its folder")
    parser.add_argument("--guide", default=os.path.join(ROOT, "docs", "guia.md"))
    parser.add_argument("--update", action="store_true", help="rewrite the quoted outputs from the tool")
    opts = parser.parse_args()
    if shutil.which("bash") is None:
        print("bash no está disponible")
        return 1

    with open(opts.guide, encoding="utf-8") as f:
        text = f.read()
    blocks, markers, lines = parse_guide(text)
    checker = Checker(os.path.abspath(opts.bin), opts.guide, [os.path.abspath(t) for t in opts.tool])
    try:
        checker.check_blocks(blocks)
        checker.check_diagnostic_table(lines, markers)
        checker.check_key_table(lines, markers, "compilacion", COMPILE_SAMPLES)
        checker.check_key_table(lines, markers, "frame", FRAME_SAMPLES)
    finally:
        shutil.rmtree(checker.work, ignore_errors=True)

    if opts.update:
        with open(opts.guide, "w", encoding="utf-8") as f:
            f.write("\n".join(update_guide(lines, blocks)))
        print("%s: salidas reescritas desde la herramienta; revísalas antes de aceptarlas" % opts.guide)
    for failure in checker.failures:
        print(failure)
    c = checker.counts
    print("%d programas que compilan, %d con errores, %d sesiones de consola, %d diagnósticos vistos: %s"
          % (c["zkv"], c["error"], c["consola"], len(checker.seen),
             "bien" if not checker.failures else "%d fallos" % len(checker.failures)))
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
