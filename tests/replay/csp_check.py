#!/usr/bin/env python3
"""The replay page runs exactly one script, its own, and its policy allows that
script by its SHA-256 and nothing else: no inline script in general, no eval,
no script from anywhere.

   csp_check.py PRENDAX_REPLAY ROBOT.zkv"""
import base64
import hashlib
import os
import re
import subprocess
import sys
import tempfile

replay, robot = sys.argv[1], sys.argv[2]
failures = []
with tempfile.TemporaryDirectory() as work:
    page_path = os.path.join(work, "p.html")
    subprocess.run([replay, "--ticks", "5", robot, "-o", page_path], check=True, stdout=subprocess.DEVNULL)
    with open(page_path, "rb") as f:
        page = f.read().decode("utf-8")

policies = re.findall(r'<meta http-equiv="Content-Security-Policy" content="([^"]*)">', page)
if len(policies) != 1:
    sys.exit(f"FALLO: {len(policies)} políticas en la página")
directives = {d.split()[0]: d.split()[1:] for d in (p.strip() for p in policies[0].split(";")) if d}

# Script elements the browser runs: those without a data type.
scripts = re.findall(r"<script(\s[^>]*)?>(.*?)</script>", page, re.S)
running = [body for attrs, body in scripts if 'type="application/json"' not in (attrs or "")]
if len(running) != 1:
    failures.append(f"{len(running)} scripts que se ejecutan, se esperaba 1")
else:
    digest = base64.b64encode(hashlib.sha256(running[0].encode("utf-8")).digest()).decode()
    want = [f"'sha256-{digest}'"]
    if directives.get("script-src") != want:
        failures.append(f"script-src es {directives.get('script-src')}, se esperaba {want}")
if directives.get("default-src") != ["'none'"]:
    failures.append(f"default-src es {directives.get('default-src')}")
if re.search(r"\son[a-z]+=", page):
    failures.append("la página tiene atributos de evento, que la política bloquea")

for f in failures:
    print("FALLO:", f)
if not failures:
    print("política de scripts correcta")
sys.exit(1 if failures else 0)
