"""Runs a shipped Windows program of one architecture under Wine on the
simulated machine of a description: replay_shim.dll answers the program's
platform calls, replay_host.exe starts each run with it, and one Wine session
serves every run of a Replayer.

scripts/replay-on-wine is the command; the replay suites use Replayer directly."""
import contextlib
import os
import select
import shutil
import subprocess
import time

import wine_host
from release_description import ARCHES  # noqa: F401  (the command's architectures)

ROOT = wine_host.ROOT
# What the command replays; korvel-report.exe reads its description itself and runs unshimmed.
PROGRAMS = ("korvel", "korvel-capture")
DEFAULT_TIME_LIMIT = 60
# An NTSTATUS of an exception, as a process's exit code.
CRASH_CODES = 0xC0000000


def replay_tools(arch):
    """The folder of replay_host.exe and replay_shim.dll, as ./build.sh installs them."""
    return os.path.join(ROOT, "dist", f"windows-{arch}", "replay")


def parse_record(data):
    record = {"calls": [], "problems": [], "refused": None}
    for line in data.decode("latin-1").splitlines():
        kind, _, text = line.partition(" ")
        if kind == "call":
            record["calls"].append(text)
        elif kind == "problem":
            record["problems"].append(text)
        elif kind == "refused":
            record["refused"] = text
    return record


class Run:
    """How one program run ended: its exit code (None when it did not end by itself), stdout and stderr."""

    def __init__(self, code, stdout, stderr, failure):
        self.code, self.stdout, self.stderr, self.failure = code, stdout, stderr, failure


class WineRunner:
    """One architecture's Wine session with replay_host.exe running in it, which starts each program (with
    shims loaded before its first instruction, when asked) far faster than a wine command does."""

    def __init__(self, arch, time_limit=DEFAULT_TIME_LIMIT, name="run"):
        self.arch, self.time_limit = arch, time_limit
        self.work = os.path.join(ROOT, "build", f"{name}-{arch}")
        self.host_exe = os.path.join(replay_tools(arch), "replay_host.exe")
        self.stack = contextlib.ExitStack()
        self.host = self.process = None
        self.windows_work = None
        self.count = 0

    def __enter__(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        try:
            self.host = self.stack.enter_context(wine_host.session(self.arch))
            self.host.run(["wineboot", "--init"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
            self.windows_work = self.host.windows_path(self.work)
        except BaseException:
            self.stack.close()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        if self.host is not None and self.host.root is None:
            # What this session started ends with it; a server that other programs still use is waited for.
            self.host.run(["wineserver", "-w"], timeout=120)
        self.stack.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self):
        argv, cwd = self.host.command(["wine", self.host_exe], ROOT)
        self.process = subprocess.Popen(argv, cwd=cwd, env=self.host.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.process is None:
            return
        with contextlib.suppress(OSError):
            self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process = None

    def answer(self, job_line):
        """replay_host.exe's result line for one job; None when it gave none in time (it is then ended)."""
        if self.process is None:
            self.start()
        try:
            self.process.stdin.write(job_line.encode("latin-1") + b"\n")
            self.process.stdin.flush()
        except OSError:
            self.stop()
            return None
        deadline = time.monotonic() + self.time_limit + 60
        line = b""
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                break
            chunk = os.read(self.process.stdout.fileno(), 1)
            if not chunk:
                break
            line += chunk
        if not line.endswith(b"\n"):
            self.process.kill()
            self.stop()
            return None
        return line.decode("latin-1").strip()

    def windows_file(self, name):
        return f"{self.windows_work}\\{name}"

    def file(self, name):
        return os.path.join(self.work, name)

    def program(self, exe, args, env=None, shims=(), stdin=None):
        """Runs exe (a path) with the shims (paths of DLLs) loaded before it runs, the variables of env set and
        stdin's bytes on its standard input."""
        self.count += 1
        name = f"run{self.count}"
        files = {kind: self.file(f"{name}.{kind}") for kind in ("in", "out", "err")}
        if stdin is not None:
            with open(files["in"], "wb") as f:
                f.write(stdin)
        shim_list = "|".join(self.host.windows_path(shim) for shim in shims) or "-"
        fields = [str(self.time_limit * 1000), shim_list, self.windows_file(f"{name}.in") if stdin is not None else "-",
                  self.windows_file(f"{name}.out"), self.windows_file(f"{name}.err"),
                  "\x1e".join(f"{key}={value}" for key, value in (env or {}).items()), exe] + list(args)
        answer = self.answer("\t".join(fields))
        output = {}
        for kind in ("out", "err"):
            with contextlib.suppress(OSError), open(files[kind], "rb") as f:
                output[kind] = f.read()
        for path in files.values():
            with contextlib.suppress(OSError):
                os.remove(path)
        code, failure = None, None
        if answer is None:
            failure = "the replay host stopped answering"
        elif answer == "timeout":
            failure = f"{os.path.basename(exe)} did not end within {self.time_limit} s"
        elif answer == "no shim":
            failure = "a shim did not load"
        elif answer.startswith("exit "):
            code = int(answer[5:])
        else:
            failure = f"replay_host.exe: {answer}"
        return Run(code, output.get("out", b""), output.get("err", b""), failure)


class Replayer(WineRunner):
    """Runs the shipped programs of one architecture on simulated machines."""

    def __init__(self, arch, time_limit=DEFAULT_TIME_LIMIT):
        super().__init__(arch, time_limit, "replay")

    def run(self, program, args, machine=None, machine_name=None, shim=True):
        """One run: {"stdout", "stderr", "exit", "calls", "problems", "refused", "failure"}. machine is a
        description's path (copied where every Wine sees it), or None for the built-in one. Without the shim
        (korvel-report.exe) the program runs on its own."""
        self.count += 1
        name = f"machine{self.count}"
        record, copy = self.file(f"{name}.record"), self.file(f"{name}.json")
        env = {}
        if shim:
            env["KORVEL_REPLAY_RECORD"] = self.windows_file(f"{name}.record")
            if machine is not None:
                shutil.copyfile(machine, copy)
                env.update(KORVEL_MACHINE=self.windows_file(f"{name}.json"), KORVEL_MACHINE_NAME=machine_name or machine)
        exe = os.path.join(ROOT, "dist", f"windows-{self.arch}", f"{program}.exe")
        ran = self.program(exe, args, env, (os.path.join(replay_tools(self.arch), "replay_shim.dll"),) if shim else ())
        result = {"stdout": ran.stdout, "stderr": ran.stderr, "exit": ran.code, "calls": [], "problems": [],
                  "refused": None, "failure": ran.failure}
        recorded = os.path.exists(record)
        if recorded:
            with open(record, "rb") as f:
                result.update(parse_record(f.read()))
        for path in (record, copy):
            with contextlib.suppress(OSError):
                os.remove(path)
        if result["refused"]:
            result["failure"] = None
        elif ran.failure == "a shim did not load":
            result["failure"] = "the replay shim did not load: " + ("; ".join(result["problems"]) or "no reason given")
        elif ran.code is not None and ran.code >= CRASH_CODES:
            result["failure"] = f"{program}.exe crashed with 0x{ran.code:08X}"
        elif ran.code is not None and shim and not recorded:
            result["failure"] = f"{program}.exe ended without the replay shim's record"
        if shim and result["failure"] is None and result["refused"] is None and result["problems"]:
            result["failure"] = "; ".join(result["problems"])
        return result
