#!/usr/bin/python3
"""korvel-report against korvel itself: on every scenario machine, the
report's own machines and the built-in one, the page parses as XML, every
listed root has one row, and each row's exit code and narration are what
korvel prints for that letter. Descriptions the loader refuses get the
loader's reason; standard input works; the large machine of the scaling
table fits in 128 MiB.
Usage: check_report.py KORVEL KORVEL_REPORT [--sanitized]"""
import glob
import json
import os
import resource
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from benchmark_scaling import machine as generated_machine  # noqa: E402

KORVEL, REPORT = sys.argv[1], sys.argv[2]
XHTML = "{http://www.w3.org/1999/xhtml}"
tally = Tally("korvel-report")
check = tally.check


def machines():
    """(name, path or None for the built-in machine) of every description korvel accepts here."""
    found = [("built-in", None)]
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "scenarios", "cases", "*", "machine.json")) +
                       glob.glob(os.path.join(HERE, "machines", "*.json"))):
        if run(KORVEL, ["/h"], machine=path)[2]:
            continue  # refused: see refusals()
        found.append((os.path.basename(os.path.dirname(path)) if path.endswith("/machine.json") else
                      os.path.basename(path), path))
    return found


def run(program, args, machine=None, stdin=None, limit=None):
    env = {k: v for k, v in os.environ.items() if k != "KORVEL_MACHINE"}
    if machine:
        env["KORVEL_MACHINE"] = machine

    def limited():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    result = subprocess.run([program] + args, env=env, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            preexec_fn=limited, timeout=120)
    return result.returncode, result.stdout, result.stderr


def listed_roots(path):
    if path is None:  # the built-in machine, as korvel-capture describes it
        _, out, _ = run(os.path.join(os.path.dirname(KORVEL), "korvel-capture"), [])
        return [v["root"] for v in json.loads(out)["volumes"]]
    with open(path) as f:
        return [v["root"] for v in json.load(f).get("volumes", [])]


def page_holds_korvels_answers(name, path):
    code, page, err = run(REPORT, [path] if path else [])
    check(f"{name}: exit 0, nothing on stderr", (code, err) == (0, b""), (code, err))
    try:
        root = ElementTree.fromstring(page)
    except ElementTree.ParseError as error:
        check(f"{name}: the page parses as XML", False, error)
        return
    rows = [tr for tr in root.iter(f"{XHTML}tr") if "data-root" in tr.attrib]
    narrations = {pre.get("id"): "".join(pre.itertext()) for pre in root.iter(f"{XHTML}pre")}
    check(f"{name}: one row per listed root, in order", [r.get("data-root") for r in rows] == listed_roots(path),
          [r.get("data-root") for r in rows])
    for row in rows:
        letter = row.get("data-root")[0] + ":"
        want_code, want_out, _ = run(KORVEL, ["/checkLetter", letter], machine=path)
        check(f"{name} {letter}: exit code", int(row.get("data-exit")) == want_code, (row.get("data-exit"), want_code))
        check(f"{name} {letter}: narration", narrations.get(row.get("data-narration")) == want_out.decode(),
              (narrations.get(row.get("data-narration")), want_out))
    check(f"{name}: rows of one narration share one <pre>", len(narrations) == len({n for n in narrations.values()}))


def refusals(work):
    """The loader's reasons, as korvel gives them, from korvel-report: exit 1, nothing on stdout."""
    cases = [os.path.join(ROOT, "tests", "scenarios", "cases", c, "machine.json")
             for c in ("machine-key-with-newline", "machine-with-unknown-key")]
    cases += [os.path.join(work, "missing.json"), work]
    for path in cases:
        _, _, korvel_err = run(KORVEL, ["/h"], machine=path)
        code, out, err = run(REPORT, [path])
        check(f"refused {os.path.basename(path)}", (code, out) == (1, b"") and
              err == korvel_err.replace(b"korvel: ", b"korvel-report: ", 1), (code, err, korvel_err))
    with open(cases[0], "rb") as f:
        code, out, err = run(REPORT, ["-"], stdin=f)
    check("refused on stdin, named -", code == 1 and err.startswith(b"korvel-report: -: unknown key"), err)
    with open(os.path.join(HERE, "machines", "without-elevation.json"), "rb") as f:
        code, out, _ = run(REPORT, ["-"], stdin=f)
    check("a description on stdin", code == 0 and out == run(REPORT, [f.name])[1], code)


def hostile_roots_stay_well_formed(work):
    path = os.path.join(work, "hostile.json")
    with open(path, "w") as f:
        json.dump({"volumes": [{"root": "C:\\\u0001<&\"\ufffe\n"}], "systemDrive": "\u0007"}, f)
    code, page, _ = run(REPORT, [path])
    try:
        row = next(tr for tr in ElementTree.fromstring(page).iter(f"{XHTML}tr") if "data-root" in tr.attrib)
        check("control bytes in a root are written \\xNN", row.get("data-root") == 'C:\\\\x01<&"\\xEF\\xBF\\xBE\n',
              row.get("data-root"))
    except (ElementTree.ParseError, StopIteration) as error:
        check("a hostile root leaves the page well-formed", False, error)


def large_machine(work):
    path = os.path.join(work, "large.json")
    with open(path, "w") as f:
        json.dump(generated_machine(100, 93, 1000, 1000), f)
    code, page, err = run(REPORT, [path], limit=128 << 20)
    check("the large machine in 128 MiB", code == 0 and err == b"" and page.endswith(b"</html>\n"), (code, err))


def main():
    import tempfile
    for name, path in machines():
        page_holds_korvels_answers(name, path)
    with tempfile.TemporaryDirectory() as work:
        refusals(work)
        hostile_roots_stay_well_formed(work)
        if "--sanitized" not in sys.argv:
            large_machine(work)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
