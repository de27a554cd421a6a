"""One way to run a Linux program of ours (korvel, korvel-capture,
korvel-report and the test programs built like them) on the simulated machine
of a description: KORVEL_MACHINE names it (unset: the built-in machine), and
none of the caller's other korvel variables reaches the program."""
import os
import resource
import subprocess
import tempfile
import threading
import time
from typing import NamedTuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LINUX_KORVEL = os.path.join(ROOT, "dist", "linux", "korvel")
# What the programs read of the environment, besides SystemDrive's stand-in in the description.
VARIABLES = ("KORVEL_MACHINE", "KORVEL_MACHINE_NAME", "KORVEL_REPLAY_RECORD")


class Ran(NamedTuple):
    code: int  # the exit code; negative for a signal, as subprocess gives it
    stdout: bytes
    stderr: bytes
    seconds: float
    peak_kib: int  # the peak resident size


def environment(machine=None, record=None):
    """The caller's environment for a run on machine (a path; None for the built-in machine), with the call
    record written to record when given."""
    env = {k: v for k, v in os.environ.items() if k not in VARIABLES}
    if machine is not None:
        env["KORVEL_MACHINE"] = machine
    if record is not None:
        env["KORVEL_REPLAY_RECORD"] = record
    return env


def run(program, args, machine=None, *, record=None, stdin=None, limit=None, timeout=120):
    """Runs program with args on machine. stdin: bytes, or a file or descriptor handed on as it is; limit: the
    address space it may take, in bytes. A run past timeout seconds is killed."""
    def limited():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    with tempfile.TemporaryFile() as given, tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        if isinstance(stdin, bytes):
            given.write(stdin)
            given.seek(0)
            stdin = given.fileno()
        elif hasattr(stdin, "fileno"):
            stdin = stdin.fileno()
        start = time.monotonic()
        child = subprocess.Popen([program] + list(args), env=environment(machine, record),
                                 stdin=stdin if stdin is not None else subprocess.DEVNULL, stdout=out, stderr=err,
                                 preexec_fn=limited, pass_fds=(stdin,) if stdin is not None else ())
        timer = threading.Timer(timeout, child.kill)
        timer.start()
        try:
            _, status, usage = os.wait4(child.pid, 0)
        finally:
            timer.cancel()
        child.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.monotonic() - start
        out.seek(0)
        err.seek(0)
        return Ran(child.returncode, out.read(), err.read(), seconds, usage.ru_maxrss)


def refusal(path):
    """Why dist/linux/korvel's loader refuses the description at path, in its own words; None when it reads
    it."""
    err = run(LINUX_KORVEL, ["/h"], path, timeout=60).stderr.decode("latin-1").rstrip("\n")
    return err[len("korvel: "):] if err.startswith("korvel: ") else err or None
