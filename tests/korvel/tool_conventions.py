#!/usr/bin/python3
"""korvel-capture and korvel-report read their command line as Windows
command-line tools do: help, version, refusals, and "-" for standard input.

CASES is shared with the Wine suite, which holds each .exe to what the Linux
program answers here.
Usage: tool_conventions.py KORVEL_CAPTURE KORVEL_REPORT"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts"))
import release_description  # noqa: E402
import simulated_run  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MACHINE = os.path.join(ROOT, "tests", "scenarios", "cases", "system-on-gpt-second-disk", "machine.json")
HELP = (["/?"], ["-h"], ["--help"])
# An unknown option, or an argument the program does not take.
REFUSED = {
    "korvel-capture": (["-x"], ["--verbose", "/?"], ["machine.json"], ["/checkLetter", "C:"], ["-"]),
    "korvel-report": (["-z"], ["--output", "x"], ["-", "-"], ["a.json", "b.json"]),
}
# program -> (arguments, standard input): every command line above, and descriptions read from "-"
CASES = {name: [(list(args), b"") for args in HELP + (["--version"],) + refused] for name, refused in REFUSED.items()}
CASES["korvel-report"] += [(["-"], b'{"systemDrive": "C:"}'), (["-"], b"{")]


def run(path, args, stdin=b""):
    return simulated_run.run(path, args, stdin=stdin, timeout=60)[:3]


def main(programs):
    tally = Tally("korvel-capture and korvel-report command lines")
    check = tally.check
    for name, path in programs.items():
        helps = {tuple(args): run(path, args) for args in HELP}
        first = helps[tuple(HELP[0])]
        check(f"{name}: /?, -h and --help print one usage text", set(helps.values()) == {first}, helps)
        check(f"{name}: the usage text starts with its usage line",
              first[0] == 0 and first[1].startswith(f"Usage: {name}".encode()) and first[2] == b"", first)
        told = run(path, ["--version"])
        check(f"{name} --version", told == (0, f"{name} {release_description.VERSION}\n".encode(), b""), told)
        for args in REFUSED[name]:
            code, out, err = run(path, args)
            lines = err.decode("latin-1").splitlines()
            check(f"{name} {args}: one line on stderr, nothing on stdout, exit code 1",
                  code == 1 and out == b"" and len(lines) == 1 and lines[0].startswith(f"{name}: "),
                  (code, out[:200], err))
    report = programs["korvel-report"]
    with open(MACHINE, "rb") as f:
        described = f.read()
    from_file = run(report, [MACHINE])
    check("korvel-report - reads standard input as it reads the file",
          run(report, ["-"], described) == from_file and from_file[0] == 0, from_file[0])
    check("korvel-capture without arguments describes the machine", run(programs["korvel-capture"], [])[0] == 0)
    return tally.finish()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main({"korvel-capture": sys.argv[1], "korvel-report": sys.argv[2]}))
