#!/usr/bin/python3
"""Times dist/linux/korvel on generated machines of N disks x M partitions,
V volumes and W WMI entries, and prints a Markdown table of wall time and
peak memory. The system volume C: is the last partition of the last disk and
its boot partition, so the search walks everything before it answers yes.
Then korvel-report (beside KORVEL) on the 100 x 93 machine with 1,000 volumes
and 1,000 entries, as a ratio to one korvel run on it (the bound is 3).
Usage: scripts/benchmark_scaling.py [KORVEL]   (not a test: nothing is checked)"""
import json
import os
import sys
import tempfile

import simulated_run

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KORVEL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "dist", "linux", "korvel")
SIZES = [(1, 4, 4, 4), (10, 4, 4, 40), (10, 93, 26, 100), (100, 4, 26, 400), (100, 93, 100, 100),
         (100, 93, 1000, 1000), (10, 93, 26, 10000)]


def machine(disks, partitions, volumes, entries):
    last = disks - 1
    vols = [{"root": "C:\\", "disk": last, "partition": partitions}]
    vols += [{"root": chr(ord("D") + i % 23) + ":\\", "disk": i % disks, "partition": partitions + 1 + i}
             for i in range(volumes - 1)]
    # The last disk's entries come first and carry the boot flag on the highest offset.
    wmi = [{"DiskIndex": last, "StartingOffset": str(1048576 * (1 + p)), "BootPartition": p == partitions - 1}
           for p in range(min(partitions, entries))]
    wmi += [{"DiskIndex": i % disks, "StartingOffset": str(1048576 * (partitions + 1 + i)), "BootPartition": False}
            for i in range(entries - len(wmi))]
    return {"systemDrive": "C:", "disks": [{"layout": {"mbr": [7] * partitions}}] * disks,
            "volumes": vols, "wmi": wmi}


def measure(path, command=None):
    """Exit code, seconds and peak MiB of one run on the machine at path."""
    program, *args = command or [KORVEL, "/checkLetter", "C:"]
    ran = simulated_run.run(program, args, path, timeout=600)
    return ran.code, ran.seconds, ran.peak_kib / 1024


def main():
    print("| disks x partitions | volumes | WMI entries | file | exit | time | peak memory |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        for disks, partitions, volumes, entries in SIZES:
            path = os.path.join(work, "machine.json")
            with open(path, "w") as f:
                json.dump(machine(disks, partitions, volumes, entries), f)
            code, seconds, peak = measure(path)
            print(f"| {disks} x {partitions} | {volumes} | {entries} | {os.path.getsize(path) // 1024} KiB | {code} "
                  f"| {seconds:.2f} s | {peak:.1f} MiB |", flush=True)
        path = os.path.join(work, "machine.json")
        with open(path, "w") as f:
            json.dump(machine(100, 93, 1000, 1000), f)
        _, korvel_seconds, _ = measure(path)
        code, report_seconds, peak = measure(path, [os.path.join(os.path.dirname(KORVEL), "korvel-report"), path])
        print(f"\nkorvel-report on 100 x 93, 1000 volumes, 1000 entries: exit {code}, {report_seconds:.2f} s against "
              f"korvel's {korvel_seconds:.2f} s ({report_seconds / korvel_seconds:.1f} times, bound 3), "
              f"peak {peak:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
