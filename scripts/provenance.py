#!/usr/bin/python3
"""The build provenance of a signed release, NAME-VERSION.intoto.jsonl: one
DSSE envelope (application/vnd.in-toto+json) of an in-toto Statement v1
whose predicate is SLSA provenance v1, signed over DSSE's pre-authentication
encoding by the publisher's key (release_key.py). Everything in it is derived
from the build: the subjects are the release's zips with their SHA-256, the
external parameters the commit and version the build recorded, the resolved
dependencies what each zip's BUILDINFO pins (the ziglang wheel from PyPI, the
Debian packages at their versions) with the SHA-512 of the bytes the SBOMs
name. The same release and build give the same statement, so a verifier
rebuilds it and compares.

  provenance.py write DIR
      writes DIR/NAME-VERSION.intoto.jsonl for the signed zips in DIR, from
      the unsigned zips of dist/, signed with the key the environment names"""
import hashlib
import json
import os
import sys
import urllib.parse
import zipfile

import pinned
import release_description as release
import release_key
import release_zip
import sbom

PAYLOAD_TYPE = "application/vnd.in-toto+json"
STATEMENT_TYPE = "https://in-toto.io/Statement/v1"
PREDICATE_TYPE = "https://slsa.dev/provenance/v1"


def _pins(buildinfo):
    """(kind, name, version) of each package BUILDINFO pins: Debian's, then PyPI's."""
    pins, kind = [], None
    for line in buildinfo.decode().splitlines():
        if not line.startswith(" "):
            kind = {"Installed-Build-Depends:": "deb", "Installed-PyPI-Build-Depends:": "pypi"}.get(line)
        elif kind and " (= " in line:
            name, version = line.strip().rstrip(",").rstrip(")").split(" (= ")
            pins.append((kind, name, version))
    return pins


def _dependency(kind, name, version, libraries):
    """A resolved dependency, with the digest of the bytes the SBOM says it came in."""
    quoted = urllib.parse.quote(name, safe="")  # as a package URL writes it: "g++" is "g%2B%2B"
    prefix = f"pkg:deb/debian/{quoted}@" if kind == "deb" else f"pkg:pypi/{quoted}@{version}"
    found = [part for part in libraries if part.purl.startswith(prefix) and part.version == version]
    if not found:
        raise ValueError(f"BUILDINFO pins {name} {version}, which no SBOM of the release names")
    part = found[0]
    return {"name": name, "uri": part.purl.split("#")[0], "downloadLocation": part.distribution.url,
            "digest": {"sha512": part.distribution.sha512}}


def statement(release_dir, dist_dir):
    """The in-toto statement of the signed zips in release_dir, built from the unsigned ones in dist_dir."""
    subjects, pins, libraries, commits = [], [], [], set()
    for arch in release.ARCHES:
        with open(os.path.join(release_dir, release.zip_name(arch, True)), "rb") as f:
            subjects.append({"name": release.zip_name(arch, True), "digest": {"sha256": hashlib.sha256(f.read()).hexdigest()}})
        with zipfile.ZipFile(os.path.join(dist_dir, release.zip_name(arch, False))) as archive:
            unsigned, _ = release_zip.members(archive)
        parts, _, commit, _ = sbom.parts_of(unsigned[release.sbom_names(arch)[1]])
        libraries += parts
        commits.add(commit)
        pins += [pin for pin in _pins(unsigned[release.BUILDINFO]) if pin not in pins]
    if len(commits) != 1:
        raise ValueError(f"the unsigned zips come from {len(commits)} commits, not one")
    return {
        "_type": STATEMENT_TYPE,
        "subject": subjects,
        "predicateType": PREDICATE_TYPE,
        "predicate": {
            "buildDefinition": {
                "buildType": release.value("provenance-build-type"),
                "externalParameters": {"commit": commits.pop(), "version": release.VERSION},
                "resolvedDependencies": [_dependency(*pin, libraries) for pin in pins],
            },
            "runDetails": {"builder": {"id": release.value("provenance-builder")}},
        },
    }


def payload(the_statement):
    return sbom.canonical(the_statement)


def envelope(body, keyid, sign):
    """One JSON line: the DSSE envelope of the payload body, signed by sign(bytes) -> signature."""
    pinned.use_libraries()
    from securesystemslib.dsse import Envelope  # noqa: E402 (the pinned library, from the project's venv)
    from securesystemslib.signer import Signature  # noqa: E402
    unsigned = Envelope(body, PAYLOAD_TYPE, {})
    signature = Signature(keyid, sign(unsigned.pae()).hex())
    return (json.dumps(Envelope(body, PAYLOAD_TYPE, {keyid: signature}).to_dict(), separators=(",", ":")) +
            "\n").encode()


def keyid(certificate_der):
    """The signing certificate's SHA-256 fingerprint, as BUILDINFO's Signed-By line gives it."""
    return "sha256:" + hashlib.sha256(certificate_der).hexdigest()


def write(release_dir):
    key = release_key.SigningKey.from_environment()
    dist = os.path.join(release.ROOT, "dist")
    line = envelope(payload(statement(release_dir, dist)), keyid(key.certificates_der()[0]), key.sign)
    with open(os.path.join(release_dir, release.PROVENANCE), "wb") as f:
        f.write(line)


def main(argv):
    if len(argv) != 3 or argv[1] != "write":
        print(__doc__, file=sys.stderr)
        return 2
    try:
        write(argv[2])
    except (OSError, ValueError, KeyError, zipfile.BadZipFile, release_key.Refused) as error:
        print(f"provenance.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
