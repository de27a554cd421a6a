#!/usr/bin/python3
"""The shipped Windows programs of one architecture on simulated machines,
through replay_shim.dll under Wine (scripts/replay_on_wine.py), against the
Linux build of the same logic:

- korvel.exe on every scenario machine, every kept report machine, the
  built-in machine and a seeded random sample, for each letter a machine
  lists and one it does not: the same stdout (text mode's CR LF read as LF),
  exit code and platform calls as dist/linux/korvel, and nothing left held;
- korvel-report.exe writes the same bytes as dist/linux/korvel-report for
  each description that is not random;
- korvel-capture.exe describes each machine so that dist/linux/korvel
  answers the description as it answers the original;
- the shim's loader refuses every description that the Linux build refuses,
  with the same words; a program that imports what the machine does not
  answer (brisal.exe) does not run.

KORVEL_REPLAY_SAMPLE sets the random sample's size (50), KORVEL_REPLAY_SEED
its seed (2026).
Usage: run_replay_tests.py x64|x86|arm64"""
import glob
import json
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests", "scenarios"))
import machine_generator  # noqa: E402
import replay_on_wine  # noqa: E402
import simulated_run  # noqa: E402
from tally import Tally  # noqa: E402

ARCH = sys.argv[1] if len(sys.argv) > 1 else "x64"
SAMPLE = int(os.environ.get("KORVEL_REPLAY_SAMPLE", "50"))
SEED = int(os.environ.get("KORVEL_REPLAY_SEED", "2026"))
LINUX = os.path.join(ROOT, "dist", "linux")
CALL_RECORD_SIM = os.path.join(ROOT, "build", "linux", "tests", "wine", "call_record_sim")
tally = Tally(f"replay {ARCH}")
check = tally.check


def linux_calls(args, machine, work):
    record = os.path.join(work, "linux.record")
    simulated_run.run(CALL_RECORD_SIM, args, machine, record=record)
    with open(record, "rb") as f:
        parsed = replay_on_wine.parse_record(f.read())
    return parsed["calls"], parsed["problems"]


def letters(description, rng=None):
    """Each letter a machine lists (its roots' first characters, as listed) and one it does not; with rng,
    only the system drive's letter and one more of those listed."""
    listed = []
    for volume in description.get("volumes") or []:
        letter = volume["root"][:1]
        if letter.isalpha() and letter not in listed:
            listed.append(letter)
    if rng is not None:
        system = (description.get("systemDrive") or " ")[0].upper()
        first = [letter for letter in listed if letter.upper() == system][:1]
        others = [letter for letter in listed if letter not in first]
        listed = first + rng.sample(others, min(len(others), 2 - len(first)))
    spare = next(c for c in "QRSTUVWXYABDEFGHIJKLMNOP" if c not in {x.upper() for x in listed})
    return [f"{letter}:" for letter in listed] + [f"{spare}:"]


def differs(wine, linux):
    """Where two runs part: the first differing line of their output, with their exit codes."""
    got, want = wine["stdout"].replace(b"\r\n", b"\n").split(b"\n"), linux.stdout.split(b"\n")
    line = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return (f"exit {wine['exit']} on Wine ({wine['failure'] or 'ended'}), {linux.code} on Linux; line "
            f"{line + 1}: {got[line] if line < len(got) else b'(end)'!r} against "
            f"{want[line] if line < len(want) else b'(end)'!r}; stderr {wine['stderr'][:200]!r} against "
            f"{linux.stderr[:200]!r}")


def compare_korvel(replayer, name, machine, description, work, rng=None):
    runs = 0
    for letter in letters(description, rng):
        args = ["/checkLetter", letter]
        got = replayer.run("korvel", args, machine)
        want = simulated_run.run(os.path.join(LINUX, "korvel"), args, machine)
        calls, problems = linux_calls(args, machine, work)
        same = (got["failure"] is None and got["exit"] == want.code and
                got["stdout"].replace(b"\r\n", b"\n") == want.stdout and got["stderr"] == want.stderr == b"")
        check(f"korvel.exe {args} on {name}: as on Linux", same, differs(got, want))
        check(f"korvel.exe {args} on {name}: the same platform calls", got["calls"] == calls and not problems,
              first_difference(got["calls"], calls) + (f" linux problems {problems}" if problems else ""))
        runs += 1
    return runs


def first_difference(got, want):
    for i, (a, b) in enumerate(zip(got, want)):
        if a != b:
            return f"call {i + 1}: wine {a!r}, linux {b!r}"
    return f"wine made {len(got)} calls, linux {len(want)}"


def compare_capture(replayer, name, machine, description, work, rng=None):
    got = replayer.run("korvel-capture", [], machine)
    want = simulated_run.run(os.path.join(LINUX, "korvel-capture"), [], machine)
    check(f"korvel-capture.exe on {name}: exit code and stderr as on Linux",
          got["failure"] is None and (got["exit"], got["stderr"].replace(b"\r\n", b"\n")) ==
          (want.code, want.stderr), differs(got, want))
    if got["exit"] != 0:
        return
    captured = os.path.join(work, "captured.json")
    with open(captured, "wb") as f:
        f.write(got["stdout"])
    for letter in letters(description, rng):
        args = ["/checkLetter", letter]
        again, first = (simulated_run.run(os.path.join(LINUX, "korvel"), args, path) for path in (captured, machine))
        check(f"korvel {args} on korvel-capture.exe's description of {name}",
              (again.code, again.stdout, again.stderr) == (first.code, first.stdout, first.stderr),
              differs({"stdout": again.stdout, "stderr": again.stderr, "exit": again.code,
                       "failure": "the capture"}, first))


def compare_report(replayer, name, machine):
    args = [machine] if machine else []
    got = replayer.run("korvel-report", args, shim=False)
    want = simulated_run.run(os.path.join(LINUX, "korvel-report"), args, None)
    check(f"korvel-report.exe on {name}: the same page", (got["exit"], got["stdout"]) == (want.code, want.stdout),
          (got["exit"], got["failure"], len(got["stdout"]), len(want.stdout)))


def kept_machines():
    """Every description of the native suites that the Linux build runs on, and those it refuses."""
    paths = sorted(glob.glob(os.path.join(ROOT, "tests", "scenarios", "cases", "*", "machine.json")) +
                   glob.glob(os.path.join(ROOT, "tests", "report", "machines", "*.json")))
    accepted, refused = [], []
    for path in paths:
        (refused if simulated_run.refusal(path) else accepted).append(path)
    return accepted, refused


def read_json(path):
    with open(path) as f:
        return json.load(f)


def write(work, name, description):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        json.dump(description, f)
    return path


def hostile_files(work):
    """Regular files that the loader refuses: the native hostile suite's, the kept ones, and bent ones."""
    import hostile_descriptions
    found = [path for path, _ in hostile_descriptions.refusals(work) if os.path.isfile(path)]
    found += [write(work, f"bent-{i}.json", d) for i, d in enumerate(machine_generator.hostile(SEED, 12))]
    found.append(os.path.join(work, "cut-short.json"))
    with open(found[-1], "w") as f:
        f.write('{"disks": [')
    return found


def compare_refusals(replayer, paths):
    for path in paths:
        got = replayer.run("korvel", ["/h"], path)
        want = simulated_run.run(os.path.join(LINUX, "korvel"), ["/h"], path)
        check(f"the shim's loader refuses {os.path.basename(path)} as Linux does",
              got["refused"] is not None and want.stderr == f"korvel: {got['refused']}\n".encode("latin-1") and
              want.code == 0 and want.stdout == b"",
              f"{got['refused'] or got['failure']!r} on Wine, {want.stderr!r} on Linux")


def strictness(replayer):
    """A program that imports what the machine does not answer never runs with the shim."""
    got = replayer.run("brisal", ["-m"])
    check("brisal.exe with the replay shim: refused for its ostrum imports",
          got["exit"] is None and "the program imports ostrum.dll!" in (got["failure"] or ""), got["failure"])


def suites(replayer, work):
    strictness(replayer)
    accepted, refused = kept_machines()
    kept = [("the built-in machine", None, json.loads(simulated_run.run(os.path.join(LINUX, "korvel-capture"), [],
                                                                None).stdout))]
    kept += [(os.path.relpath(path, ROOT), path, read_json(path)) for path in accepted]
    started, runs = time.monotonic(), 0
    for name, path, description in kept:
        runs += compare_korvel(replayer, name, path, description, work)
        compare_capture(replayer, name, path, description, work)
        compare_report(replayer, name, path)
        runs += 2
    # The sample: each machine's system letter, one more it lists and one it does not.
    sample = machine_generator.machines(SEED, SAMPLE)
    rng = random.Random(SEED)
    for i, description in enumerate(sample):
        path = write(work, f"sample-{i}.json", description)
        name = f"sample machine {i} (seed {SEED})"
        # korvel.exe and the capture's replay ask the same letters.
        state = rng.getstate()
        runs += compare_korvel(replayer, name, path, description, work, rng)
        rng.setstate(state)
        compare_capture(replayer, name, path, description, work, rng)
        runs += 1
    refusals = refused + hostile_files(work)
    compare_refusals(replayer, refusals)
    runs += len(refusals)
    seconds = time.monotonic() - started
    print(f"replay ({ARCH}): {len(kept)} kept machines, {len(sample)} sampled (seed {SEED}), {len(refusals)} refused "
          f"descriptions; {runs} runs in {seconds:.0f} s, {runs / seconds:.1f} runs/s")


COMMAND = os.path.join(ROOT, "scripts", "replay-on-wine")


def command(args, jobs=None):
    return subprocess.run([COMMAND] + args, input=jobs, capture_output=True, timeout=600)


def bad_input(work):
    """One line on stderr and exit code 2, in either mode, before anything runs."""
    kept = os.path.join(ROOT, "tests", "report", "machines", "odd-roots.json")
    missing = os.path.join(work, "missing.json")
    cases = [
        (["arm65", kept, "korvel"], None, "unknown architecture 'arm65'"),
        ([ARCH, kept, "brisal"], None, "unknown program 'brisal'"),
        ([ARCH, missing, "korvel"], None, f"{missing}: cannot be read: No such file or directory"),
        ([ARCH, "--batch"], b'{"machine": "x.json", "program": "korvel"', "job line 1 is not JSON"),
        ([ARCH, "--batch"], b'{"machine": "%s", "program": "brisal"}' % kept.encode(), 'unknown program "brisal"'),
        ([ARCH, "--batch"], b'{"machine": "%s", "program": "korvel"}' % missing.encode(),
         f"{missing}: cannot be read"),
    ]
    for args, jobs, reason in cases:
        result = command(args, jobs)
        lines = result.stderr.decode().splitlines()
        check(f"replay-on-wine {args[1:]} refuses: {reason}", result.returncode == 2 and result.stdout == b"" and
              len(lines) == 1 and lines[0].startswith("replay-on-wine: ") and reason in lines[0],
              (result.returncode, result.stdout[:200], result.stderr[:300]))


def batch(work):
    """The command's batch mode: one line a job, in order, as the Linux build answers."""
    kept = os.path.join(ROOT, "tests", "scenarios", "cases", "partition-numbers-differ", "machine.json")
    jobs = [(kept, "korvel", ["/checkLetter", letter]) for letter in ("C:", "d:", "Q:")]
    result = command([ARCH, "--batch"], "".join(json.dumps({"machine": m, "program": p, "args": a}) + "\n"
                                                 for m, p, a in jobs).encode())
    lines = result.stdout.decode().splitlines()
    check("replay-on-wine --batch: one line a job", result.returncode == 0 and len(lines) == len(jobs),
          (result.returncode, len(lines), result.stderr[-300:], [line[-300:] for line in lines]))
    for (machine, _, args), line in zip(jobs, lines):
        got = json.loads(line)
        want = simulated_run.run(os.path.join(LINUX, "korvel"), args, machine)
        calls, _ = linux_calls(args, machine, work)
        check(f"replay-on-wine --batch {args}: as on Linux",
              (got["exit"], got["stdout"].replace("\r\n", "\n").encode("latin-1"), got["calls"], got["problems"]) ==
              (want.code, want.stdout, calls, []), line[-300:])


def main():
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        with replay_on_wine.Replayer(ARCH) as replayer:
            suites(replayer, work)
        # The command starts a Wine session of its own: after the suite's has ended.
        bad_input(work)
        batch(work)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
