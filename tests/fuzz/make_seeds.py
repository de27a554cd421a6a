#!/usr/bin/python3
"""Writes the seed corpora under tests/fuzz/corpus/. FuzzedDataProvider takes
strings from the front of an input and integers from its back, so a seed is
front strings + remaining bytes + back integers in reverse order of use."""
import glob
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(HERE, "corpus")
random.seed(20261207)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def fdp_string(text):
    return text.replace("\\", "\\\\").encode("latin-1") + b"\\x"


def layout(count, types):
    head = struct.pack("<II", 0, count) + bytes(40)
    entries = b"".join(bytes(32) + bytes([t]) + bytes(111) for t in types)
    return head + entries


machines = {}
for path in sorted(glob.glob(os.path.join(ROOT, "tests", "scenarios", "cases", "*", "machine.json"))):
    machines[os.path.basename(os.path.dirname(path))] = open(path, "rb").read()

# partition counts: mask (4 bytes, from the back), short-answer flag, image
for name, mask, image in [("five-mbr", 1, layout(4, [7, 0, 0, 0])),
                          ("second-buffer", 2, layout(6, [7, 15, 5, 0, 7, 7])),
                          ("count-lies", 0xFFFFFFFF, layout(0x7FFFFFFF, [7] * 8)),
                          ("never", 0, b"")]:
    write("partition_count", name, image + b"\x00" + struct.pack("<I", mask)[::-1])

# drive roots: contents, flag, second answer, first answer
for name, contents, first, second in [("three", b"A:\\\0C:\\\0D:\\\0\0", 13, 12),
                                      ("unterminated", b"C:\\C:\\C:\\", 2, 99),
                                      ("lying-large", b"C:\\\0", 0xFFFFFFF0, 4),
                                      ("second-fails", b"C:\\\0\0", 4, 0)]:
    write("drive_roots", name, contents + b"\x00" + struct.pack("<I", second)[::-1] + struct.pack("<I", first)[::-1])

# boot query and brisal: random bytes of several sizes are as good as any
for i, length in enumerate([8, 32, 64, 128, 256, 512]):
    write("boot_query", f"random-{i}", bytes(random.getrandbits(8) for _ in range(length)))

# machine loader: every scenario machine, and some broken ones
for name, text in machines.items():
    write("machine_loader", name, text)
write("machine_loader", "unknown-key", b'{"systemDrive": "C:", "disk": []}')
write("machine_loader", "wrong-type", b'{"volumes": [{"root": 3}]}')

# korvel entry: two front arguments, the machine, then failAt (2 bytes) and argc (1 byte)
for name, text in list(machines.items())[:4] + [("builtin", b"not json")]:
    for letter in ("C:", "D:"):
        write("korvel_entry", f"{name}-{letter[0]}", fdp_string("/checkLetter") + fdp_string(letter) + text + b"\x00\x00\x02")
write("korvel_entry", "help", fdp_string("/?") + b"\x00\x00\x01")

# brisal entry: arguments, buffer bytes, result (4 bytes), argc (1 byte)
for name, args, buffer, result in [("mount-debug", ["-m", "-d"], b"S:\\\0", 1),
                                   ("find-unterminated", ["-f", "-d"], b"X" * 300, -1),
                                   ("unmount-fails", ["-r", "-d"], b"", 0),
                                   ("usage", ["-x", "-d"], b"", 1)]:
    data = b"".join(fdp_string(a) for a in args) + buffer + struct.pack("<i", result)[::-1] + bytes([len(args) % 5])
    write("brisal_entry", name, data)
