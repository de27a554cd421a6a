#!/usr/bin/python3
"""dist/linux/korvel against descriptions that are not what they should be,
and against a large one under a memory limit: every refusal is one clean
stderr line with exit code 0, and nothing waits long or grows without bound.
Usage: hostile_descriptions.py KORVEL KORVEL_CAPTURE [--sanitized]   (a
sanitizer's shadow memory rules out the memory limits: the large runs are
left out)"""
import json
import os
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts"))
import simulated_run  # noqa: E402

# The programs under test, from the command line (the replay suites import refusals() only).
KORVEL = KORVEL_CAPTURE = None
MAX_DESCRIPTION = 1 << 20
MEMORY_LIMIT = 128 << 20
tally = Tally("hostile descriptions")


def run(machine, args, limit=None, stdin=None, program=None):
    """Exit code, stdout, stderr, seconds and peak resident KiB of one run."""
    return simulated_run.run(program or KORVEL, args, machine, stdin=stdin, limit=limit)


def refusals(work):
    fifo = os.path.join(work, "fifo")
    os.mkfifo(fifo)
    large = os.path.join(work, "large.json")
    with open(large, "w") as f:
        f.write("{}" + " " * (1 << 20))
    nul = os.path.join(work, "nul.json")
    with open(nul, "wb") as f:
        f.write(b'{"systemDrive": "C:"}\0 not JSON')
    keys = os.path.join(work, "keys.json")
    with open(keys, "w") as f:
        f.write('{"a\\u0001b\\u0000c\\u007f\\r\\nd": 1}')
    return [
        (work, "is a directory"),
        (fifo, "brought no data within 5 s"),
        ("/dev/zero", "is neither a regular file nor a pipe"),
        (large, "is larger than 1048576 bytes"),
        (nul, "holds a NUL byte"),
        (keys, 'unknown key "a\\x01b\\x00c\\x7F  d" in the machine'),
    ]


def hostile(work):
    for machine, reason in refusals(work):
        for args in (["/h"], ["/checkLetter", "C:"]):
            code, out, err, seconds, _ = run(machine, args)
            expected = f"korvel: {machine}: {reason}\n".encode()
            tally.check(f"{machine} {args}", (code, out, err) == (0, b"", expected) and seconds < 8,
                        f"-> {code} {out!r} {err!r} in {seconds:.1f} s")
    # A pipe, as <(generator) gives, is still read.
    reader, writer = os.pipe()
    os.write(writer, b'{"wmi": null}')
    os.close(writer)
    code, out, err, _, _ = run(f"/dev/fd/{reader}", ["/h"], stdin=reader)
    tally.check("a pipe is read", code == 0 and out.startswith(b"Options:") and err == b"", (code, err))
    os.close(reader)
    # A reader that is already gone: the writes fail, the answer stays.
    reader, writer = os.pipe()
    os.close(reader)
    answer = subprocess.run([KORVEL, "/checkLetter", "C:"], env=simulated_run.environment(), stdout=writer)
    os.close(writer)
    tally.check("a closed pipe leaves the answer", answer.returncode == 1, answer.returncode)


def piped(data, args):
    """A run that reads its description from a pipe that a writer fills beside it."""
    reader, writer = os.pipe()

    def write():
        try:
            with os.fdopen(writer, "wb") as f:
                f.write(data)
        except OSError:
            pass
    feeder = threading.Thread(target=write)
    feeder.start()
    try:
        return run(f"/dev/fd/{reader}", args, stdin=reader)
    finally:
        os.close(reader)
        feeder.join()


def size_limit(work):
    """Exactly the limit is read, one byte more is refused: from a file and from a pipe."""
    for size, accepted in ((MAX_DESCRIPTION, True), (MAX_DESCRIPTION + 1, False)):
        data = b"{}" + b" " * (size - 2)
        path = os.path.join(work, f"size-{size}.json")
        with open(path, "wb") as f:
            f.write(data)
        for name, (code, out, err, _, _) in (("file", run(path, ["/h"])), ("pipe", piped(data, ["/h"]))):
            good = out.startswith(b"Options:") and err == b"" if accepted else \
                out == b"" and err.endswith(f": is larger than {MAX_DESCRIPTION} bytes\n".encode())
            tally.check(f"{size} bytes through a {name}", code == 0 and good, (code, out[:40], err))


def large_machine():
    """100 disks of 93 partitions, 1000 volumes, 1000 WMI entries; the system
    volume C: is the first partition of the last disk and its boot partition."""
    disks = [{"layout": {"mbr": [7] * 93}} for _ in range(100)]
    volumes = [{"root": "C:\\", "disk": 99, "partition": 1}]
    volumes += [{"root": chr(ord("D") + i % 23) + ":\\", "disk": i % 99, "partition": 200 + i} for i in range(999)]
    wmi = [{"DiskIndex": i % 100, "StartingOffset": str(1048576 * (1 + i)), "BootPartition": i == 99}
           for i in range(1000)]
    return {"systemDrive": "C:", "disks": disks, "volumes": volumes, "wmi": wmi}


def large(work):
    path = os.path.join(work, "large-machine.json")
    with open(path, "w") as f:
        json.dump(large_machine(), f)
    code, out, err, seconds, peak_kib = run(path, ["/checkLetter", "C:"], limit=MEMORY_LIMIT)
    peak = peak_kib * 1024
    print(f"large description ({os.path.getsize(path)} bytes): exit {code} in {seconds:.1f} s, "
          f"peak {peak / (1 << 20):.1f} MiB")
    tally.check("large description answers yes", (code, err) == (1, b"") and
                out.endswith(b"Found active system partition: drive letter=C:\\\n"), (code, err, out[-200:]))
    tally.check("large description stays under 128 MiB", peak < MEMORY_LIMIT, peak)


def out_of_memory(work):
    """350,000 disks in 1 MiB need about 70 MiB; with 40 the run ends cleanly."""
    path = os.path.join(work, "many-disks.json")
    with open(path, "w") as f:
        f.write('{"disks": [' + ",".join(["{}"] * 349000) + "]}")
    code, _, err, _, _ = run(path, ["/checkLetter", "C:"], limit=40 << 20)
    tally.check("running out of memory", (code, err) == (0, b"korvel: out of memory\n"), (code, err))
    code, out, err, _, _ = run(path, [], limit=40 << 20, program=KORVEL_CAPTURE)
    tally.check("korvel-capture running out of memory", (code, out, err) == (1, b"", b"korvel-capture: out of memory\n"),
                (code, out[:40], err))


def main():
    global KORVEL, KORVEL_CAPTURE
    KORVEL, KORVEL_CAPTURE = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        hostile(work)
        size_limit(work)
        if "--sanitized" not in sys.argv:
            large(work)
            out_of_memory(work)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
