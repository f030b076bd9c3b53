"""The per-line profile of prendax_arena: its figures add up to the CSV's counters
(instructions executed = steps, budget stops = budgetHits), it is the same for
one and for two workers, and its text and collapsed stacks match the golden
files on a fixed sweep."""
import json
import os

from arena_testlib import HERE, Checks, binaries, read_csv, run, workdir

GOLDEN = os.path.join(HERE, "golden")
ROBOTS = ["busy.zkv", "hunter.zkv", "erratic.zkv"]


def main():
    arena, _cli = binaries()
    cwd = workdir()
    checks = Checks()
    sweep = ["--seeds", "4", "--levels", "1,3", "--ticks", "600"]

    outputs = {}
    for jobs in ("1", "2"):
        status, out, err = run([arena, *sweep, "--jobs", jobs, "--json", "--profile", "--profile-collapsed",
                                f"stacks{jobs}.txt", "--csv", f"runs{jobs}.csv", *ROBOTS], cwd)
        checks.equal(status, 0, f"--jobs {jobs}: estado de salida ({err!r})")
        with open(os.path.join(cwd, f"stacks{jobs}.txt"), "rb") as f:
            outputs[jobs] = (out, f.read())
    checks.equal(outputs["2"], outputs["1"], "el perfil y las pilas son iguales con 1 y con 2 trabajadores")

    document = json.loads(outputs["1"][0].decode("utf-8"))
    rows = read_csv(os.path.join(cwd, "runs1.csv"))
    checks.equal([p["program"] for p in document["profile"]], ROBOTS, "un perfil por programa, en orden")
    for profile in document["profile"]:
        mine = [r for r in rows if r["program"] == profile["program"]]
        lines = profile["lines"]
        checks.equal(sum(l["executed"] for l in lines), sum(int(r["steps"]) for r in mine),
                     f"{profile['program']}: instrucciones = steps del CSV")
        checks.equal(sum(l["budgetStops"] for l in lines), sum(int(r["budgetHits"]) for r in mine),
                     f"{profile['program']}: paradas = budgetHits del CSV")
        checks.true(abs(sum(l["share"] for l in lines) - 1.0) < 0.001, f"{profile['program']}: las partes suman 1")
    # The collapsed stacks hold the same counts as the table.
    stacks = outputs["1"][1].decode("utf-8").splitlines()
    checks.equal(sum(int(s.rsplit(" ", 1)[1]) for s in stacks),
                 sum(l["executed"] for p in document["profile"] for l in p["lines"]), "las pilas suman lo mismo")

    # Golden text: the table after the summary, and the stacks.
    status, out, _ = run([arena, *sweep, "--jobs", "2", "--profile", "--profile-collapsed", "golden.txt",
                          "hunter.zkv", "busy.zkv"], cwd)
    text = out.decode("utf-8")
    table = text[text.index("\nPerfil de "):]
    with open(os.path.join(cwd, "golden.txt"), "rb") as f:
        stacks = f.read().decode("utf-8")
    for name, got in (("profile_table.txt", table), ("profile_stacks.txt", stacks)):
        path = os.path.join(GOLDEN, name)
        if os.environ.get("UPDATE_GOLDEN") == "1":
            with open(path, "w", encoding="utf-8") as f:
                f.write(got)
        with open(path, encoding="utf-8") as f:
            checks.equal(got, f.read(), f"golden {name}")

    status, _, err = run([arena, "--profile-collapsed", "no/existe/pilas.txt", "--seeds", "1", "hunter.zkv"], cwd)
    checks.equal(status, 2, "un archivo de pilas que no se puede escribir da el estado 2")
    checks.true(b"No se pudo escribir" in err, "y lo dice")
    checks.finish()


main()
