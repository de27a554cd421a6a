#!/usr/bin/python3
"""SHA256SUMS, as every part of a release writes it (the one in each zip, the
signed release's, dist/'s): one line a file, its SHA-256 in hex, two spaces
and its name, in the order given; sha256sum -c reads it.

  checksums.py DIR NAME...   writes DIR/SHA256SUMS over DIR's files NAME..."""
import hashlib
import os
import sys

NAME = "SHA256SUMS"


def sums_text(entries):
    """entries: (name, hex digest) in their order."""
    return "".join(f"{digest}  {name}\n" for name, digest in entries).encode()


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write(folder, names):
    """DIR/SHA256SUMS over the files names, in that order."""
    text = sums_text((name, file_digest(os.path.join(folder, name))) for name in names)
    with open(os.path.join(folder, NAME), "wb") as f:
        f.write(text)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        write(argv[1], argv[2:])
    except OSError as error:
        print(f"checksums.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
