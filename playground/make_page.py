#!/usr/bin/env python3
"""Writes the playground page: one self-contained HTML file holding its style,
the example robots, the WebAssembly engine in base64 and the scripts (the
shared field drawing, the engine wrapper, the playground).

  make_page.py PAGE_DIR REPLAY_DIR EXAMPLES_DIR PRENDAX_WASM OUTPUT
"""
import base64
import json
import os
import sys


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def inline_safe(text, closer):
    if closer in text.lower():
        sys.exit(f"make_page.py: the text would close its element early ({closer})")
    return text


def main():
    page_dir, replay_dir, examples_dir, wasm_path, output = sys.argv[1:6]
    html = read(os.path.join(page_dir, "playground.html"))
    style = inline_safe(read(os.path.join(page_dir, "playground.css")), "</style")
    scripts = [read(os.path.join(replay_dir, "field.js")), read(os.path.join(page_dir, "engine.js")),
               read(os.path.join(page_dir, "playground.js"))]
    script = inline_safe("\n".join(scripts), "</script")
    examples = []
    for name in sorted(os.listdir(examples_dir)):
        if name.endswith(".zkv"):
            with open(os.path.join(examples_dir, name), encoding="utf-8", errors="replace") as f:
                examples.append({"name": name[:-4], "source": f.read()})
    data = json.dumps({"examples": examples}, ensure_ascii=False).replace("<", "\\u003c")
    with open(wasm_path, "rb") as f:
        wasm = base64.b64encode(f.read()).decode("ascii")
    pieces = {
        "<!-- playground-style -->": f"<style>\n{style}</style>",
        "<!-- playground-data -->": f'<script type="application/json" id="playground-data">{data}</script>\n'
                                    f'<script type="application/octet-stream" id="prendax-wasm">{wasm}</script>',
        "<!-- playground-script -->": f"<script>\n{script}</script>",
    }
    for marker, text in pieces.items():
        if html.count(marker) != 1:
            sys.exit(f"make_page.py: playground.html must hold {marker} exactly once")
        html = html.replace(marker, text)
    # Written whole under a temporary name, then renamed into place.
    temporary = output + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(html)
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
