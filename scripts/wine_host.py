"""Where one architecture's Windows programs run.

x64 and x86 run under this machine's Wine. arm64 runs under Debian 13's
arm64 Wine, in its own root (scripts/arm64_wine_root.sh) through qemu-user,
with the checkout bound into it at the same path: every path, and every
Windows path Wine makes of it, is the same as on the host, so files to share
must lie in the checkout. While a session lasts, the root's wineserver stays
up (each program then starts in a fraction of a second); afterwards nothing
of the root runs and nothing is mounted in it."""
import contextlib
import os
import signal
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def environment(arch, prefix=None):
    """The environment of Wine commands; prefix names a folder of build/ for the x64 and x86 prefix
    (wineprefix), so that a suite that runs beside another keeps to its own."""
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko install prompts in a fresh prefix, and no Wayland driver
    # (Wine 10's) that complains on stderr of a machine without a display.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winewayland.drv=d"
    # Wine 10 keeps a prefix of its own; Wine 8's serves x64 and x86.
    env["WINEPREFIX"] = os.path.join(ROOT, "build", "wineprefix-arm64" if arch == "arm64" else prefix or "wineprefix")
    # Wine 10's system-call dispatcher loops on qemu's default cpu.
    env["QEMU_CPU"] = "cortex-a72"
    env.pop("DISPLAY", None)
    # What the programs under test read from the environment is given per run, never inherited.
    for name in ("OSTRUM_RESULT", "OSTRUM_MOUNT_POINT", "OSTRUM_LOG", "KORVEL_MACHINE"):
        env.pop(name, None)
    return env


class WineHost:
    def __init__(self, arch, root=None, prefix=None):
        self.arch, self.root, self.env = arch, root, environment(arch, prefix)

    def command(self, command, cwd=None):
        """The command and folder that run a Wine command where this architecture's Wine lives."""
        if self.root is None:
            return command, cwd
        return ["chroot", self.root, "/usr/bin/env", "-C", cwd or ROOT] + command, None

    def run(self, command, cwd=None, timeout=300, env=None, **kwargs):
        """A Wine command, in the host's environment unless given one; one that outlives its time is ended
        with everything Wine runs (exit code 124)."""
        argv, cwd = self.command(command, cwd)
        try:
            return subprocess.run(argv, env=env or self.env, cwd=cwd, timeout=timeout, **kwargs)
        except subprocess.TimeoutExpired:
            subprocess.run(self.command(["wineserver", "-k"])[0], env=self.env, timeout=60)
            return subprocess.CompletedProcess(argv, 124, b"", b"timed out")

    def windows_path(self, path):
        return self.run(["winepath", "-w", path], stdout=subprocess.PIPE,
                        stderr=subprocess.DEVNULL).stdout.decode().strip()


def processes_in(root):
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if os.readlink(f"/proc/{pid}/root") == root:
                found.append(int(pid))
    return found


@contextlib.contextmanager
def session(arch, prefix=None):
    """A WineHost for the architecture, ready to run programs."""
    if arch != "arm64":
        yield WineHost(arch, prefix=prefix)
        return
    root = subprocess.run([os.path.join(ROOT, "scripts", "arm64_wine_root.sh")], stdout=subprocess.PIPE,
                          check=True).stdout.decode().strip()
    host, mounted = None, []
    try:
        os.makedirs(root + ROOT, exist_ok=True)
        for source, target, options in (("proc", root + "/proc", ["-t", "proc"]), (ROOT, root + ROOT, ["--bind"])):
            subprocess.run(["mount", *options, source, target], check=True)
            mounted.append(target)
        host = WineHost(arch, root)
        os.makedirs(host.env["WINEPREFIX"], exist_ok=True)
        host.run(["wineserver", "-p"], timeout=60)
        yield host
    finally:
        if host is not None:
            host.run(["wineserver", "-k"], timeout=60)
        for signal_number in (signal.SIGTERM, signal.SIGKILL):
            for pid in processes_in(root):
                with contextlib.suppress(OSError):
                    os.kill(pid, signal_number)
        for target in reversed(mounted):
            if subprocess.run(["umount", target]).returncode != 0:
                subprocess.run(["umount", "-l", target])
