#!/usr/bin/python3
"""korvel-report against korvel itself: on every scenario machine, the
report's own machines and the built-in one, the page parses as XML, every
listed root has one row, and each row's exit code and narration are what
korvel prints for that letter. What the page says (cells, sentences,
drawings, notes) is held against korvel's narration and against the
description read on its own (description_model.py). Descriptions the loader
refuses get the loader's reason; standard input works; the large machine of
the scaling table fits in 128 MiB.
Usage: check_report.py KORVEL KORVEL_REPORT [--sanitized]"""
import glob
import json
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from benchmark_scaling import machine as generated_machine  # noqa: E402
import description_model as model  # noqa: E402
import simulated_run  # noqa: E402

KORVEL, REPORT = sys.argv[1], sys.argv[2]
XHTML = "{http://www.w3.org/1999/xhtml}"
SVG = "{http://www.w3.org/2000/svg}"
tally = Tally("korvel-report")
check = tally.check


def machines():
    """(name, path or None for the built-in machine) of every description korvel accepts here."""
    found = [("built-in", None)]
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "scenarios", "cases", "*", "machine.json")) +
                       glob.glob(os.path.join(HERE, "machines", "*.json"))):
        if run(KORVEL, ["/h"], machine=path)[2]:
            continue  # refused: see refusals()
        found.append((os.path.basename(os.path.dirname(path)) if path.endswith("/machine.json") else
                      os.path.basename(path), path))
    return found


def run(program, args, machine=None, stdin=None, limit=None):
    return simulated_run.run(program, args, machine, stdin=stdin, limit=limit)[:3]


def description_of(path):
    if path is None:  # the built-in machine, as korvel-capture describes it
        return json.loads(run(os.path.join(os.path.dirname(KORVEL), "korvel-capture"), [])[1])
    with open(path) as f:
        return json.load(f)


def text(element):
    return "".join(element.itertext())


def page_holds_korvels_answers(name, path):
    code, page, err = run(REPORT, [path] if path else [])
    check(f"{name}: exit 0, nothing on stderr", (code, err) == (0, b""), (code, err))
    try:
        root = ElementTree.fromstring(page)
    except ElementTree.ParseError as error:
        check(f"{name}: the page parses as XML", False, error)
        return
    rows = [tr for tr in root.iter(f"{XHTML}tr") if "data-root" in tr.attrib]
    narrations = {pre.get("id"): "".join(pre.itertext()) for pre in root.iter(f"{XHTML}pre")}
    description = description_of(path)
    check(f"{name}: one row per listed root, in order",
          [r.get("data-root") for r in rows] == [v["root"] for v in description.get("volumes", [])],
          [r.get("data-root") for r in rows])
    walk = None
    for row in rows:
        letter = row.get("data-root")[0] + ":"
        want_code, want_out, _ = run(KORVEL, ["/checkLetter", letter], machine=path)
        check(f"{name} {letter}: exit code", int(row.get("data-exit")) == want_code, (row.get("data-exit"), want_code))
        check(f"{name} {letter}: narration", narrations.get(row.get("data-narration")) == want_out.decode(),
              (narrations.get(row.get("data-narration")), want_out))
        cells = row.findall(f"{XHTML}td")
        check(f"{name} {letter}: visible cells", [text(c) for c in cells[:3]] + [cells[2].get("class")] ==
              [row.get("data-root"), letter, str(want_code), "yes" if want_code == 1 else None], [text(c) for c in cells])
        passes = "Checking internal drives\n" in want_out.decode()
        walk = walk or (read_walk(want_out.decode()) if passes else None)
        reason = model.hotplug_reason(description, letter)
        check(f"{name} {letter}: the hot-plug step", passes == (reason is None), (passes, reason))
        if reason:
            check(f"{name} {letter}: why", text(cells[3]) == sentence(reason), text(cells[3]))
        elif walk:
            check(f"{name} {letter}: why", text(cells[3]) == sentence(verdict(walk, want_code, description)),
                  text(cells[3]))
    check(f"{name}: rows of one narration share one <pre>", len(narrations) == len({n for n in narrations.values()}))
    disks_drawn_as_described(name, root, description)
    if walk:
        walk_told_as_narrated(name, root, walk, description)
    notes = [text(li) for li in root.iter(f"{XHTML}li")]
    check(f"{name}: notes", notes == model.notes(description), (notes, model.notes(description)))


def sentence(words):
    return words[0].upper() + words[1:] + "."


def read_walk(narration):
    """korvel's walk as it narrates it: the system drive and disk, and each boot query."""
    walk = {"drive": None, "disk": None, "steps": [], "root": None}
    found = re.search(r" Checking partition (\d+):\n drive letter=(.*)\nFound system drive=(\d+)\n", narration)
    if found:
        walk.update(partition=int(found[1]), system_root=found[2], disk=int(found[3]))
    for step in re.split(r"^Checking system drive, partition ", narration, flags=re.M)[1:]:
        partition = int(step.split("\n", 1)[0])
        offset = re.search(r"^Expected starting offset=(.*)$", step, re.M)
        confirmed = f"Found active system partition @ partition={partition}\n" in step
        walk["steps"].append((partition, offset[1] if offset else "", confirmed))
        if confirmed:
            walk["root"] = re.search(r"^Found active system partition: drive letter=(.*)$", step, re.M)[1]
    walk["unset"] = "Couldn't get %SystemDrive%" in narration
    return walk


def boot_partition(walk):
    partition, offset, _ = walk["steps"][-1]
    return (f"the boot partition is partition {partition} of disk {walk['disk']}" +
            (f" (offset {offset})" if offset else ""))


def verdict(walk, code, description):
    if walk["unset"]:
        return "SystemDrive is not set"
    if walk["disk"] is None:
        return f"no counted disk has a partition with the system drive's letter, {description['systemDrive']}"
    if walk["root"] is None:
        return f"WMI confirms no partition of disk {walk['disk']}"
    if code == 1:
        return "this is the active system partition"
    return boot_partition(walk) + (f", which is {walk['root']}" if walk["root"] else ", which has no drive letter")


def walk_told_as_narrated(name, root, walk, description):
    body = list(root.find(f"{XHTML}body"))
    check(f"{name}: the system disk", walk["disk"] == model.system_disk(description),
          (walk["disk"], model.system_disk(description)))
    if walk["disk"] is None:
        return
    heading = next(i for i, e in enumerate(body) if text(e).startswith("The system drive"))
    check(f"{name}: the system drive's sentence", text(body[heading + 1]) ==
          f"SystemDrive is {description['systemDrive']}. The walk finds it as partition {walk['partition']} of disk "
          f"{walk['disk']} ({walk['system_root']}): disk {walk['disk']} is the system disk.", text(body[heading + 1]))
    heading = next(i for i, e in enumerate(body) if text(e).startswith("The boot walk"))
    check(f"{name}: the boot walk's disk", text(body[heading]) == f"The boot walk on disk {walk['disk']}")
    if not walk["steps"]:
        return
    table = [[text(td) for td in tr.findall(f"{XHTML}td")] + [tr.findall(f"{XHTML}td")[2].get("class")]
             for tr in body[heading + 1].findall(f"{XHTML}tr")[1:]]
    check(f"{name}: the boot walk's table", table == [
        [str(p), offset or "none printed", "yes" if yes else "no", "yes" if yes else None]
        for p, offset, yes in walk["steps"]], table)
    if walk["root"] is not None:
        check(f"{name}: the boot partition's sentence", text(body[heading + 2]) == sentence(
            boot_partition(walk) + ": " + (walk["root"] or "it has no drive letter")), text(body[heading + 2]))


def disks_drawn_as_described(name, root, description):
    walked = model.walked_disks(description)
    said = next(text(p) for p in root.iter(f"{XHTML}p") if text(p).startswith("korvel walks"))
    check(f"{name}: the walked disks", said.startswith(
        f"korvel walks disks 0 to {walked - 1} ({walked} disk{'' if walked == 1 else 's'})" if walked
        else "korvel walks no disk"), said)
    for number, figure in enumerate(root.iter(f"{XHTML}figure")):
        disk = description["disks"][number]
        texts = [text(t) for t in figure.iter(f"{SVG}text")]
        counts = model.counted(disk)
        entries = [t for t in texts if t.startswith("entry ")]
        state = texts[1]
        if number < walked and counts is None:
            check(f"{name} disk {number}: not read", state.startswith("opens, but its layout is not read"), state)
        elif number < walked:
            kind = "GPT" if "gpt" in disk.get("layout", {}) else "MBR"
            check(f"{name} disk {number}: walked", state == f"{kind}, {sum(counts)} of {len(counts)} entries counted: "
                  f"partitions 1 to {sum(counts)} walked", state)
            roots = [model.root_at(description, number, p) for p in range(1, sum(counts) + 1)]
            check(f"{name} disk {number}: drawn partitions", [t for t in texts if t.startswith("p ")] ==
                  [f"p {p}: {r or 'none'}" for p, r in enumerate(roots, 1)], texts)
        else:
            check(f"{name} disk {number}: not walked", state == ("does not open: the walk over the disks ends here"
                  if number == walked else "behind the first gap: korvel never counts it" +
                  ("" if disk.get("opens", True) else " (does not open)")), state)
        counting = "counted" if number < walked else "would count"
        check(f"{name} disk {number}: entries", entries == [f"entry {i}, {counting if c else 'not counted'}"
                                                             for i, c in enumerate(counts or [], 1)], entries)
        wmi = sum(type(e.get("DiskIndex")) is int and e["DiskIndex"] == number for e in description.get("wmi") or [])
        check(f"{name} disk {number}: WMI entries", (text(figure.find(f"{XHTML}figcaption")),
              len(figure.findall(f".//{XHTML}tr")) - (1 if wmi else 0)) ==
              (f"WMI entries of disk {number}: {wmi or 'none'}", wmi))


def refusals(work):
    """The loader's reasons, as korvel gives them, from korvel-report: exit 1, nothing on stdout."""
    cases = [os.path.join(ROOT, "tests", "scenarios", "cases", c, "machine.json")
             for c in ("machine-key-with-newline", "machine-with-unknown-key")]
    cases += [os.path.join(work, "missing.json"), work]
    for path in cases:
        _, _, korvel_err = run(KORVEL, ["/h"], machine=path)
        code, out, err = run(REPORT, [path])
        check(f"refused {os.path.basename(path)}", (code, out) == (1, b"") and
              err == korvel_err.replace(b"korvel: ", b"korvel-report: ", 1), (code, err, korvel_err))
    with open(cases[0], "rb") as f:
        code, out, err = run(REPORT, ["-"], stdin=f)
    check("refused on stdin, named -", code == 1 and err.startswith(b"korvel-report: -: unknown key"), err)
    with open(os.path.join(HERE, "machines", "without-elevation.json"), "rb") as f:
        code, out, _ = run(REPORT, ["-"], stdin=f)
    check("a description on stdin", code == 0 and out == run(REPORT, [f.name])[1], code)


def hostile_roots_stay_well_formed(work):
    path = os.path.join(work, "hostile.json")
    with open(path, "w") as f:
        json.dump({"volumes": [{"root": "C:\\\u0001<&\"\ufffe\n"}], "systemDrive": "\u0007"}, f)
    code, page, _ = run(REPORT, [path])
    try:
        row = next(tr for tr in ElementTree.fromstring(page).iter(f"{XHTML}tr") if "data-root" in tr.attrib)
        check("control bytes in a root are written \\xNN", row.get("data-root") == 'C:\\\\x01<&"\\xEF\\xBF\\xBE\n',
              row.get("data-root"))
    except (ElementTree.ParseError, StopIteration) as error:
        check("a hostile root leaves the page well-formed", False, error)


def large_machine(work):
    path = os.path.join(work, "large.json")
    with open(path, "w") as f:
        json.dump(generated_machine(100, 93, 1000, 1000), f)
    code, page, err = run(REPORT, [path], limit=128 << 20)
    check("the large machine in 128 MiB", code == 0 and err == b"" and page.endswith(b"</html>\n"), (code, err))


def main():
    import tempfile
    for name, path in machines():
        page_holds_korvels_answers(name, path)
    with tempfile.TemporaryDirectory() as work:
        refusals(work)
        hostile_roots_stay_well_formed(work)
        if "--sanitized" not in sys.argv:
            large_machine(work)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
