#!/usr/bin/python3
"""Runs one architecture's Windows programs under Wine: the Win32 probe and
query suite, korvel.exe, brisal.exe beside the stand-in ostrum.dll (stdout
bytes, exit codes and the calls made into ostrum), and brisal.exe's exported
operators called as MSVC-compiled code calls them.
Usage: run_wine_tests.py x64|x86"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARCH = sys.argv[1] if len(sys.argv) > 1 else "x64"
DIST = os.path.join(ROOT, "dist", f"windows-{ARCH}")
BUILD = os.path.join(ROOT, "build", f"wine-tests-{ARCH}")

env = dict(os.environ)
env["WINEDEBUG"] = "-all"
# No Mono or Gecko install prompts in a fresh prefix.
env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
env["WINEPREFIX"] = os.path.join(ROOT, "build", "wineprefix")
env.pop("DISPLAY", None)
for name in ("OSTRUM_RESULT", "OSTRUM_MOUNT_POINT", "OSTRUM_LOG"):
    env.pop(name, None)

tally = Tally(f"wine {ARCH}")
check = tally.check


def wine(program, args, extra_env=None, cwd=None):
    run_env = dict(env)
    run_env.update(extra_env or {})
    result = subprocess.run(["wine", program] + args, env=run_env, cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return result.returncode, result.stdout


def text_mode(text):
    """What the C runtime's text mode makes of a string on its way out."""
    return text.replace("\n", "\r\n").encode("latin-1")


def prepare_prefix():
    subprocess.run(["wineboot", "--init"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    subprocess.run(["wineserver", "-w"], env=env, timeout=600)


def win32_suite():
    suite = os.path.join(BUILD, "tests", "wine", "korvel_wine_tests.exe")
    result = subprocess.run(["wine", suite], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=600)
    out = result.stdout.decode("latin-1")
    tail = [line for line in out.splitlines() if line.startswith("[  PASSED") or "FAILED" in line]
    print(f"korvel_wine_tests.exe ({ARCH}):", "; ".join(tail) or "(no result line)")
    check("korvel_wine_tests.exe", result.returncode == 0, out[-2000:] if result.returncode else "")


HELP = ("Options:\n\n"
        "/checkLetter <drive letter, ex. C:> - Checks if drive letter is active system partition\n"
        "\tReturns 1 if drive letter is active system partition\n"
        "\tReturns 0 if drive letter is not\n"
        "/h - Display these options\n")
NOT_INTERNAL = "\nChecking for active system partition\nNot internal hdd or badly formatted drive letter\n"


def korvel():
    exe = os.path.join(DIST, "korvel.exe")
    cases = [
        ([], HELP, 0),
        (["/h"], HELP, 0),
        (["-H"], HELP, 0),
        (["/?", "C:"], HELP, 0),
        (["--checkLetter", "C:"], "", 0),
        (["checkLetter"], "", 0),
        # Wine refuses the hot-plug request on C: and does not open Z:.
        (["/checkLetter", "C:"], NOT_INTERNAL, 0),
        (["-CHECKLETTER", "c:"], NOT_INTERNAL, 0),
        (["/checkLetter", "Z:"], NOT_INTERNAL, 0),
        (["/checkLetter"], NOT_INTERNAL, 0),
        (["/checkLetter", "%s%n" * 50], NOT_INTERNAL, 0),
    ]
    for args, expected, code in cases:
        got_code, out = wine(exe, args)
        check(f"korvel.exe {args}", (got_code, out) == (code, text_mode(expected)), f"-> {got_code} {out!r}")


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
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "ostrum.log")
        for args, result, mount_point, expected, code, calls in cases:
            if os.path.exists(log):
                os.remove(log)
            extra = {"OSTRUM_RESULT": result, "OSTRUM_LOG": log}
            if mount_point is not None:
                extra["OSTRUM_MOUNT_POINT"] = mount_point
            got_code, out = wine("brisal.exe", args, extra, cwd=DIST)
            made = open(log).read().split("\n")[:-1] if os.path.exists(log) else []
            check(f"brisal.exe {args} result {result}",
                  (got_code, out, made) == (code, text_mode(expected), calls),
                  f"-> {got_code} {out!r} {made}")


def exported_operators():
    program = os.path.join(BUILD, "tests", "wine", "call_exports.exe")
    brisal_exe = subprocess.run(["winepath", "-w", os.path.join(DIST, "brisal.exe")], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode().strip()
    code, out = wine(program, [brisal_exe])
    print(out.decode("latin-1").strip().splitlines()[-1] if out else "call_exports.exe: no output")
    check("exported operators called as MSVC code calls them", code == 0, out.decode("latin-1")[-2000:])


def main():
    prepare_prefix()
    win32_suite()
    korvel()
    brisal()
    exported_operators()
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
