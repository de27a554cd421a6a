#!/usr/bin/python3
"""The documentation holds to the programs it describes.

- Every ```console block of README.md and docs/*.md is run: each "$ " line
  (a trailing backslash continues it) is a command for bash, run from the
  checkout in one shell per block, and the lines up to the next "$ " are
  what it prints, standard error included. Carriage returns are left out of
  what the programs print (brisal ends its lines in LF CR), and so is the
  last line break, which the page cannot show.
- Every relative link and image points at a file that exists.
Usage: check_docs.py"""
import glob
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DOCS = [os.path.join(ROOT, "README.md")] + sorted(glob.glob(os.path.join(ROOT, "docs", "*.md")))
SEPARATOR = "@@ end of example command @@"
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")

tally = Tally("documentation")
check = tally.check


def console_blocks(text):
    """(line number, [(command, expected output)]) of each console block."""
    blocks, lines, i = [], text.split("\n"), 0
    while i < len(lines):
        if lines[i].strip() != "```console":
            i += 1
            continue
        start, examples, i = i + 1, [], i + 1
        while i < len(lines) and lines[i].strip() != "```":
            if lines[i].startswith("$ "):
                command = lines[i][2:]
                while command.endswith("\\") and i + 1 < len(lines):
                    i += 1
                    command = command[:-1] + "\n" + lines[i]
                examples.append((command, []))
            elif examples:
                examples[-1][1].append(lines[i])
            i += 1
        blocks.append((start, [(command, "\n".join(out)) for command, out in examples]))
        i += 1
    return blocks


def run_block(examples):
    """What each command printed, run in one shell so that $? carries over."""
    script = "".join(f"{command}\n__status=$?\nprintf '\\n%s\\n' '{SEPARATOR}'\n(exit $__status)\n"
                     for command, _ in examples)
    env = {k: v for k, v in os.environ.items() if k != "KORVEL_MACHINE" and not k.startswith("OSTRUM_")}
    result = subprocess.run(["bash", "-c", script], cwd=ROOT, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120)
    printed = result.stdout.decode("utf-8", "replace").replace("\r", "")
    return [part.strip("\n") for part in printed.split(f"\n{SEPARATOR}\n")[:len(examples)]]


def examples(doc, text):
    name = os.path.relpath(doc, ROOT)
    for line, block in console_blocks(text):
        check(f"{name}:{line}: a console block shows commands", block, "no '$ ' line")
        if not block:
            continue
        for (command, expected), got in zip(block, run_block(block)):
            check(f"{name}:{line}: $ {command}", got == expected.strip("\n"),
                  f"\n--- the page shows:\n{expected}\n--- it prints:\n{got}")


def links(doc, text):
    name = os.path.relpath(doc, ROOT)
    for target in LINK.findall(re.sub(r"```.*?```", "", text, flags=re.S)):
        if re.match(r"[a-z]+:", target) or target.startswith("#"):
            continue
        path = os.path.normpath(os.path.join(os.path.dirname(doc), target.split("#")[0]))
        check(f"{name}: link {target}", os.path.isfile(path), "no such file")


def main():
    for doc in DOCS:
        with open(doc, encoding="utf-8") as f:
            text = f.read()
        examples(doc, text)
        links(doc, text)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
