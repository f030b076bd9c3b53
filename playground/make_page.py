#!/usr/bin/env python3
"""Writes the playground page: one self-contained HTML file holding its style,
the example robots, the WebAssembly engine in base64, the state panel taken
from the replay viewer's page and the scripts (the field drawing, the panel
and the event marks shared with the viewer, the engine wrapper, the playground).

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


# The replay viewer's state panel, word for word: one markup for both pages.
PANEL_OPEN = '<aside id="panel"'
PANEL_CLOSE = "</aside>"


def replay_panel(viewer_html):
    start = viewer_html.find(PANEL_OPEN)
    end = viewer_html.find(PANEL_CLOSE, start)
    if start < 0 or end < 0 or viewer_html.count(PANEL_OPEN) != 1:
        sys.exit("make_page.py: the replay viewer's page must hold one <aside id=\"panel\">")
    return viewer_html[start:end + len(PANEL_CLOSE)]


def main():
    page_dir, replay_dir, examples_dir, wasm_path, output = sys.argv[1:6]
    html = read(os.path.join(page_dir, "playground.html"))
    style = inline_safe(read(os.path.join(page_dir, "playground.css")), "</style")
    panel = replay_panel(read(os.path.join(replay_dir, "viewer.html")))
    scripts = [read(os.path.join(replay_dir, name)) for name in ("field.js", "panel.js", "marks.js")]
    scripts += [read(os.path.join(page_dir, name)) for name in ("engine.js", "playground.js")]
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
        "<!-- replay-panel -->": panel,
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
