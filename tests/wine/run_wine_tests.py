#!/usr/bin/python3
"""Runs one architecture's Windows programs under Wine.

- The Win32 probe and query suite, held to what every Wine 8 answers.
- korvel-capture.exe describes the Wine machine at hand, plainly and through
  layout_shim.dll (which answers the hot-plug and layout
  requests Wine refuses, so that korvel's whole yes-path runs). On each
  capture, the shipped korvel.exe and dist/linux/korvel give the same stdout
  (text mode's CR LF read as LF) and exit code, and probe_report.exe (Win32)
  and probe_report_sim (the simulated machine loaded from the capture) give
  the same answers to every probe and query question the capture suggests.
- brisal.exe beside the stand-in ostrum.dll: stdout bytes, exit codes and the
  calls made into ostrum; and its exported operators called as MSVC code does.
- korvel-capture.exe and korvel-report.exe answer every command line of the
  conventions suite (help, version, refusals, "-") as their Linux builds do.
- A program built with the shipped flags that overruns a stack buffer ends
  with __fastfail.
- Each shipped program with one allocation failed (allocation_shim.dll), from
  the C runtime's start-up on: the run ends under the program's contract.

Each architecture runs where scripts/wine_host.py puts it: arm64 under Debian 13's
arm64 Wine, through qemu-user. replay_host.exe (scripts/replay_on_wine.py)
starts every program of the session, with its shims, in that Wine.
Usage: run_wine_tests.py x64|x86|arm64"""
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts"))
from tally import Tally  # noqa: E402
import replay_on_wine  # noqa: E402
import simulated_run  # noqa: E402
import wine_host  # noqa: E402
from korvel.tool_conventions import CASES as COMMAND_LINES  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARCH = sys.argv[1] if len(sys.argv) > 1 else "x64"
DIST = os.path.join(ROOT, "dist", f"windows-{ARCH}")
BUILD = os.path.join(ROOT, "build", f"wine-tests-{ARCH}", "tests", "wine")
WORK = os.path.join(ROOT, "build", f"wine-{ARCH}")
LINUX_KORVEL = os.path.join(ROOT, "dist", "linux", "korvel")
PROBE_REPORT_SIM = os.path.join(ROOT, "build", "linux", "tests", "wine", "probe_report_sim")

env = wine_host.environment(ARCH)

tally = Tally(f"wine {ARCH}")
check = tally.check
# Set by main for the suites' run: the session's runner of Windows programs.
runner = None


def windows_path(path):
    return runner.host.windows_path(path)


def run_wine(program, args, extra_env=None, shims=(), stdin=None):
    """Exit code (the whole NTSTATUS of a crash), stdout and stderr of a Windows program, with the shims named
    (test programs' DLLs) loaded before it runs; a run that did not end by itself has the code None."""
    ran = runner.program(program, args, extra_env, tuple(os.path.join(BUILD, shim) for shim in shims), stdin)
    return ran.code, ran.stdout, ran.stderr + (ran.failure or "").encode()


def wine(program, args, extra_env=None, shimmed=False):
    """Exit code and stdout of a Windows program; with the layout shim when asked."""
    code, out, _ = run_wine(program, args, extra_env, ("layout_shim.dll",) if shimmed else ())
    return code, out


def on_linux(program, args, machine):
    return simulated_run.run(program, args, machine, timeout=300)[:3]


def text_mode(text):
    """What the C runtime's text mode makes of a string on its way out."""
    return text.replace("\n", "\r\n").encode("latin-1")


def win32_suite():
    def attempt():
        return run_wine(os.path.join(BUILD, "korvel_wine_tests.exe"), [])
    code, out, _ = attempt()
    if code != 0:
        # Once in a while the first program of a cold start finds no drive at all (no drive strings,
        # no PhysicalDrive0), as if Wine's services had not yet brought them up: one more try after
        # a new start. A real fault fails both.
        print(f"korvel_wine_tests.exe ({ARCH}): failed on the first start of Wine; run again after wineboot")
        runner.host.run(["wineboot", "--init"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        code, out, _ = attempt()
    out = out.decode("latin-1")
    tail = [line for line in out.splitlines() if line.startswith("[  PASSED") or "FAILED" in line]
    print(f"korvel_wine_tests.exe ({ARCH}):", "; ".join(tail) or "(no result line)")
    check("korvel_wine_tests.exe", code == 0, out[-2000:] if code else "")


def capture(shimmed):
    """The Wine machine as korvel-capture.exe describes it, saved for replay."""
    code, out = wine(os.path.join(DIST, "korvel-capture.exe"), [], shimmed=shimmed)
    name = "shimmed" if shimmed else "plain"
    path = os.path.join(WORK, f"capture-{name}.json")
    with open(path, "wb") as f:
        f.write(out)
    check(f"korvel-capture.exe ({name}) exits 0", code == 0, code)
    try:
        return path, json.loads(out)
    except ValueError as error:
        check(f"korvel-capture.exe ({name}) writes JSON", False, error)
        return path, None


def letters(machine):
    """Each root's letter in both cases, and a letter that is no root."""
    roots = {volume["root"][0].upper() for volume in machine["volumes"]}
    found = [f"{letter}:" for root in sorted(roots) for letter in (root, root.lower())]
    spare = next((c for c in "QRSTUVWXYABDEFGHIJKLMNOP" if c not in roots), None)
    return found + ([f"{spare}:"] if spare else [])


def compare_korvel(path, machine, shimmed):
    cases = [[], ["/h"], ["-H"], ["/?"], ["--checkLetter", "C:"], ["checkLetter"], ["/checkLetter"]]
    cases += [["/checkLetter", letter] for letter in letters(machine)]
    answered_yes = False
    for args in cases:
        code, out = wine(os.path.join(DIST, "korvel.exe"), args, shimmed=shimmed)
        want_code, want_out, want_err = on_linux(LINUX_KORVEL, args, path)
        answered_yes = answered_yes or code == 1
        check(f"korvel.exe {args}{' (shimmed)' if shimmed else ''} as its replay",
              (code, out.replace(b"\r\n", b"\n")) == (want_code, want_out) and want_err == b"",
              f"\nwine  {code} {out!r}\nlinux {want_code} {want_out!r} {want_err!r}")
    print(f"korvel.exe ({ARCH}{', shimmed' if shimmed else ''}): {len(cases)} runs compared with the replay, "
          f"yes-path {'reached' if answered_yes else 'not reached'}")


def questions(machine):
    """Every probe and query question that the capture suggests."""
    asked = [f"external={volume['root'][0]}:" for volume in machine["volumes"]] + ["drives"]
    asked += [f"partitions={disk}" for disk in range(len(machine["disks"]) + 1)]
    pairs = sorted({(v["disk"], v["partition"]) for v in machine["volumes"] if "disk" in v})
    unreported = (0, max([p for _, p in pairs], default=0) + 1)
    asked += [f"letter={disk},{partition}" for disk, partition in pairs + [unreported]]
    entries = machine["wmi"] or []
    disks = sorted({e["DiskIndex"] for e in entries if isinstance(e.get("DiskIndex"), int)})
    asked += [f"boot={disk},{n}" for disk in disks for n in range(len(entries) + 2)]
    return asked


def compare_probes(path, machine, shimmed):
    asked = questions(machine)
    code, out = wine(os.path.join(BUILD, "probe_report.exe"), asked, shimmed=shimmed)
    report = out.decode("latin-1").replace("\r\n", "\n")
    want_code, want, err = on_linux(PROBE_REPORT_SIM, asked, path)
    name = "shimmed" if shimmed else "plain"
    check(f"probe report ({name}): Win32 and the simulated machine agree",
          (code, report) == (want_code, want.decode("latin-1")) and err == b"",
          f"\nwine:\n{report}\nsimulated:\n{want.decode('latin-1')}{err!r}")
    print(f"probe report ({ARCH}, {name}): {len(asked)} questions compared")
    return report


def wine_facts(report):
    """What every Wine 8 answers, whatever the host."""
    lines = report.splitlines()
    check("Wine refuses the hot-plug request", "external=C: -> 2" in lines, report)
    check("Wine refuses the layout request", "partitions=0 -> -1 after 23 layout requests" in lines, report)
    boots = [(i, line) for i, line in enumerate(lines) if line.startswith("boot=")]
    for i, line in boots:
        narrated = i + 1 < len(lines) and lines[i + 1].startswith("  | Expected starting offset=")
        check(f"{line.split(' ->')[0]}: one connection, {3 if narrated else 2} enumerations",
              re.search(r"after 1 connections, %d enumerations$" % (3 if narrated else 2), line), line)
    check("a query was asked", boots, report)
    check("nothing held after the report", lines[-1:] == ["held: 0 handles, 0 references, 0 strings"], lines[-1:])


BANNER = "\n\rbrisal - Service Partition and Virtual Partition tool\n\r\n\r"
DEBUG = "Debug Printing enabled\n\r"
USAGE = ("If no parameter is supplied this help is displayed\n\r"
         " -m   mounts the Service Partition\n\r"
         " -f   finds a mounted Service Partition\n\r"
         " -r   unmounts the Service Partition\n\r"
         " -v   locks the Virtual Partition\n\r"
         " -u   unlocks the Virtual Partition\n\r"
         " -d   Prints out lots of debug information\n\r")


def brisal():
    cases = [
        # args, OSTRUM_RESULT, mount point, expected stdout, exit code, calls
        ([], "1", None, BANNER, 1, []),
        (["-d"], "1", None, BANNER, 1, []),
        (["-x", "-d"], "1", None, BANNER + DEBUG + USAGE, 1, []),
        (["-m"], "1", None, BANNER, 0, ["mountSP 260"]),
        (["-m"], "0", None, BANNER, 1, ["mountSP 260"]),
        (["-M", "-d"], "1", "Q:\\Service", BANNER + DEBUG + "Service Partition mounted at: Q:\\Service\n\r", 0,
         ["mountSP 260"]),
        (["-f", "-D"], "0", None, BANNER + DEBUG + "No Mounted Service Partition found\n\r", 1, ["findMountedSP 260"]),
        (["-f", "-d"], "-1", "X" * 300,
         BANNER + DEBUG + "Service Partition mounted at: " + "X" * 260 + "\n\r", 0, ["findMountedSP 260"]),
        (["-r", "-d"], "0", None, BANNER + DEBUG, 1, ["umountSP"]),
        (["-r", "x", "-d"], "1", None, BANNER, 0, ["umountSP"]),
        (["-v", "-d"], "1", None, BANNER + DEBUG + "Virtual Partition locked\n\r", 0, ["lockVirP"]),
        (["-unlock", "-d"], "7", None, BANNER + DEBUG + "Virtual Partition unlocked\n\r", 0, ["unlockVirP"]),
        (["-v", "-d"], "4294967296", None, BANNER + DEBUG, 1, ["lockVirP"]),
        (["/m", "-d"], "1", None, BANNER + DEBUG + USAGE, 1, []),
    ]
    with tempfile.TemporaryDirectory(dir=WORK) as work:  # in the checkout: seen by every Wine
        log = os.path.join(work, "ostrum.log")
        for args, result, mount_point, expected, code, calls in cases:
            if os.path.exists(log):
                os.remove(log)
            extra = {"OSTRUM_RESULT": result, "OSTRUM_LOG": log}
            if mount_point is not None:
                extra["OSTRUM_MOUNT_POINT"] = mount_point
            got_code, out = wine(os.path.join(DIST, "brisal.exe"), args, extra)
            made = open(log).read().split("\n")[:-1] if os.path.exists(log) else []
            check(f"brisal.exe {args} result {result}",
                  (got_code, out, made) == (code, text_mode(expected), calls),
                  f"-> {got_code} {out!r} {made}")


def exported_operators():
    code, out = wine(os.path.join(BUILD, "call_exports.exe"), [windows_path(os.path.join(DIST, "brisal.exe"))])
    print(out.decode("latin-1").strip().splitlines()[-1] if out else "call_exports.exe: no output")
    check("exported operators called as MSVC code calls them", code == 0, out.decode("latin-1")[-2000:])


# Every k up to the mark's count and three more, then every STRIDE-th, or
# fewer, so that no program takes more than RUNS_PAST_THE_MARK runs more.
ALLOCATION_STRIDE = 12
RUNS_PAST_THE_MARK = 12


def program_stderr(err):
    """What the program wrote to stderr, without Wine's own diagnostics."""
    return b"".join(line for line in err.splitlines(keepends=True) if not line.startswith(b"wine: "))


def allocation_failures():
    """Each shipped program with its k-th allocation failed ends under its contract."""
    with tempfile.TemporaryDirectory(dir=WORK) as work:
        report = os.path.join(work, "allocations")
        ostrum_log = os.path.join(work, "ostrum.log")
        # korvel's programs run their whole yes-path, with the requests Wine refuses answered.
        korvel_shims = ("allocation_shim.dll", "layout_shim.dll")
        programs = [  # program, arguments, the mark, shims, extra environment, the contract
            ("korvel.exe", ["/checkLetter", "C:"], "fwrite", korvel_shims, {},
             lambda code, out, err: code == 0 and err == b""),
            ("korvel-capture.exe", [], "GetEnvironmentVariableA", korvel_shims, {},
             lambda code, out, err: (code, out, err) == (1, b"", b"korvel-capture: out of memory\r\n")),
            ("korvel-report.exe", [], "getenv", ("allocation_shim.dll",), {},
             lambda code, out, err: (code, out, err) == (1, b"", b"korvel-report: out of memory\r\n")),
            ("brisal.exe", ["-m", "-d"], "fwrite", ("allocation_shim.dll",),
             {"OSTRUM_RESULT": "1", "OSTRUM_LOG": ostrum_log},
             lambda code, out, err: err == b"" and code == (0 if os.path.exists(ostrum_log) else 1)),
        ]
        for exe, args, mark, shims, extra, holds in programs:
            def attempt(k):
                if os.path.exists(ostrum_log):
                    os.remove(ostrum_log)
                shim_env = dict(extra, ALLOCATION_SHIM_FAIL=str(k), ALLOCATION_SHIM_MARK=mark,
                                ALLOCATION_SHIM_REPORT=windows_path(report))
                code, out, err = run_wine(os.path.join(DIST, exe), args, shim_env, shims=shims)
                return code, out, program_stderr(err)
            if os.path.exists(report):
                os.remove(report)
            attempt(0)
            if not os.path.exists(report):
                check(f"{exe}: allocations counted", False, "no report")
                continue
            total, before_mark = (int(n) for n in open(report).read().split())
            check(f"{exe}: allocations counted up to the mark", 0 < before_mark <= total, (total, before_mark))
            stride = max(ALLOCATION_STRIDE, -(-(total - before_mark - 3) // RUNS_PAST_THE_MARK))
            ks = sorted(set(range(1, min(total, before_mark + 3) + 1)) |
                        set(range(before_mark + 4, total + 1, stride)) | {total})
            failed = [(k, result) for k, result in ((k, attempt(k)) for k in ks) if not holds(*result)]
            check(f"{exe}: every failed allocation ends the run under its contract", not failed, failed[:3])
            print(f"{exe} ({ARCH}): {total} allocations, {before_mark} before the mark; {len(ks)} of them failed "
                  f"(stride {stride})")


# __fastfail's status, STATUS_STACK_BUFFER_OVERRUN.
FAST_FAIL_EXIT = 0xC0000409


def stack_protector():
    """A program built with the shipped flags that overruns a stack buffer ends with __fastfail; one that
    stays within it returns."""
    program = os.path.join(BUILD, "stack_smash.exe")
    code, out = wine(program, ["within"])
    check("stack_smash.exe within its buffer returns", (code, out) == (0, b"returned 6\r\n"), (code, out))
    code, out = wine(program, ["x" * 64])
    check("stack_smash.exe past its buffer ends with __fastfail", (code, out) == (FAST_FAIL_EXIT, b""), (code, out))


def command_lines():
    """Help, version, refusals and "-" as on Linux (CR LF read as LF, Wine's own lines left out)."""
    for name, cases in COMMAND_LINES.items():
        for args, stdin in cases:
            code, out, err = run_wine(os.path.join(DIST, f"{name}.exe"), args, stdin=stdin)
            got = (code, out.replace(b"\r\n", b"\n"), program_stderr(err).replace(b"\r\n", b"\n"))
            want = subprocess.run([os.path.join(ROOT, "dist", "linux", name)] + args, input=stdin,
                                  capture_output=True, env=env, timeout=60)
            check(f"{name}.exe {args} as on Linux", got == (want.returncode, want.stdout, want.stderr),
                  f"\nwine  {got}\nlinux {(want.returncode, want.stdout, want.stderr)}")


def main():
    global runner
    os.makedirs(WORK, exist_ok=True)
    with replay_on_wine.WineRunner(ARCH, name="wine-runs") as runner:
        suites()
    return tally.finish()


def suites():
    win32_suite()
    for shimmed in (False, True):
        path, machine = capture(shimmed)
        if machine is None:
            continue
        compare_korvel(path, machine, shimmed)
        report = compare_probes(path, machine, shimmed)
        if not shimmed:
            wine_facts(report)
    command_lines()
    brisal()
    exported_operators()
    stack_protector()
    allocation_failures()


if __name__ == "__main__":
    sys.exit(main())
