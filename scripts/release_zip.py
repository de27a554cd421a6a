#!/usr/bin/python3
"""The release zips, one per architecture, built so that the same files give
the same bytes: fixed order, fixed times, fixed attributes. What a release
is (version, architectures, programs, names) is release.conf's
(release_description.py); this only writes it.

  release_zip.py unsigned DIST COMMIT TIME BUILDS
      DIST/NAME-VERSION-windows-ARCH-unsigned.zip for every architecture, from
      the programs in DIST/windows-ARCH (the stand-in ostrum.dll and the replay
      tool are left out), and its SBOMs beside it; BUILDS names the build
      folders, "{arch}" standing for the architecture (their link maps and
      dependency files tell the programs' components)
  release_zip.py signed UNSIGNED_ZIP PROGRAMS OUT_ZIP
      the unsigned zip with the signed programs of the folder PROGRAMS
      instead, and in BUILDINFO the fingerprint of the certificate that
      signed them, read from their NAME.exe.sig files; its SBOMs, made anew
      for the signed files, the CycloneDX one signed by the publisher's key
      (release_key.py: sign-release.sh names it in the environment), go in it
      and beside it
  release_zip.py sums DIR
      writes DIR/SHA256SUMS over the other files of a signed release

Each zip holds, under one folder: the programs, README.txt and LICENSE (CRLF
lines), BUILDINFO (the commit, the Debian versions of every Debian component, the
ziglang package's PyPI version, whose Zig builds every architecture, and what
`zig version` prints), THIRD-PARTY-NOTICES.txt (CRLF lines), the SBOMs (SPDX 2.3 and
CycloneDX 1.6 JSON, describing the files before them) and SHA256SUMS over
the other files."""
import hashlib
import os
import subprocess
import sys
import time
import zipfile

import authenticode
import checksums
import components
import release_description
import release_key
import sbom
from release_description import (ARCHES, BUILDINFO, LICENSE, NOTICES, PROGRAMS, README, ROOT, SUMS, VERSION,
                                 build_folder, folder, release_files, sbom_names, zip_name)

SIGNER_FIELD = "Signed-By:"


def signing_certificate(programs_dir):
    """The fingerprint of the one certificate that signed every program of the folder."""
    found = set()
    for name in PROGRAMS:
        signature = authenticode.read_signature(read(os.path.join(programs_dir, name + ".sig")))
        found.add(authenticode.fingerprint(signature.signer_certificate()))
    if len(found) != 1:
        raise ValueError(f"{programs_dir}: the programs are signed by {len(found)} certificates, not one")
    return found.pop()


def package_versions(names):
    """'name (= version)' for each Debian package, as .buildinfo files write them."""
    found = []
    for name in names:
        result = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        found.append(f"{name} (= {result.stdout})" if result.returncode == 0 else f"{name} (not installed)")
    return found


def text_of(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def documents(meta, files, parts, zip_path):
    """(name, bytes) of the two SBOMs that describe the files of the zip at zip_path."""
    spdx_name, cyclonedx_name = sbom_names(meta.arch)
    return [(spdx_name, sbom.spdx(meta, files, parts)),
            (cyclonedx_name, sbom.cyclonedx(meta, files, parts, os.path.basename(zip_path)))]


def publisher():
    """The publisher of publisher.conf, as the SBOMs name it; without a contact, the build says so."""
    given = release_description.publisher()
    if not given.email and not given.url:
        print(f"release_zip.py: publisher.conf gives no email or URL of {given.name}: the SBOMs name no contact "
              "of their creator, which BSI TR-03183-2 requires", file=sys.stderr)
    return sbom.Organisation(given.name, given.url, given.email)


def write_beside(path, named):
    for name, data in named:
        with open(os.path.join(os.path.dirname(os.path.abspath(path)), name), "wb") as f:
            f.write(data)


def buildinfo(arch, commit, packages, signer=None):
    lines = ["Format: 1.0", "Source: korvel", f"Version: {VERSION}", f"Architecture: {build_folder(arch)}",
             f"Commit: {commit}", "Installed-Build-Depends:"]
    lines += [f" {package}{',' if i + 1 < len(packages) else ''}" for i, package in enumerate(packages)]
    lines += ["Installed-PyPI-Build-Depends:", f" ziglang (= {components.ziglang_version()})",
              f"Zig-Version: {components.zig_version()}"]
    if signer:
        lines += [SIGNER_FIELD, f" {signer}"]
    return ("\n".join(lines) + "\n").encode()


def readme(arch):
    with open(os.path.join(ROOT, "win32", "README.txt")) as f:
        lines = f.read().replace("@VERSION@", VERSION).replace("@ARCH@", arch).split("\n")
    lines[1] = "=" * len(lines[0])  # the title's underline, as long as the title it gets
    return "\r\n".join(lines).encode()


def licence_text():
    """LICENSE with CRLF lines, as Windows users read it."""
    return read(os.path.join(ROOT, LICENSE)).replace(b"\n", b"\r\n")


def write_zip(path, top, files, stamp):
    """files: (name, bytes) in their order; SHA256SUMS over them goes last. stamp: (Y, M, D, h, m, s)."""
    sums = checksums.sums_text((name, hashlib.sha256(data).hexdigest()) for name, data in files)
    members = [(top + name, data) for name, data in files] + [(top + SUMS, sums)]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 0  # MS-DOS: no Unix mode bits
            info.external_attr = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def unsigned(dist, commit, when, builds):
    who = publisher()
    for arch in ARCHES:
        found = components.components(builds.replace("{arch}", arch), PROGRAMS)
        meta = sbom.Meta("korvel", VERSION, arch, commit, time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(when)),
                         signed=False, publisher=who)
        packages = package_versions([c.package for c in found if c.debian])
        programs = [(name, read(os.path.join(dist, build_folder(arch), name))) for name in PROGRAMS]
        files = programs + [(README, readme(arch)), (LICENSE, licence_text()),
                            (BUILDINFO, buildinfo(arch, commit, packages)),
                            (NOTICES, sbom.notices(meta, found, text_of))]
        parts = [sbom.Part.of(c) for c in found]
        path = os.path.join(dist, zip_name(arch, False))
        described = documents(meta, files, parts, path)
        stamp = time.gmtime(max(when, 315532800))[:6]  # a zip holds no time before 1980
        write_zip(path, folder(arch), files + described, stamp)
        write_beside(os.path.join(dist, zip_name(arch, False)), described)


def members(archive):
    """name within the folder -> bytes, and the folder."""
    names = archive.namelist()
    top = names[0][:names[0].index("/") + 1]
    return {name[len(top):]: archive.read(name) for name in names}, top


def signed(unsigned_zip, programs_dir, out, seal):
    """seal(document) -> the CycloneDX document's signature."""
    signer = signing_certificate(programs_dir)
    with zipfile.ZipFile(unsigned_zip) as archive:
        found, top = members(archive)
        stamp = archive.infolist()[0].date_time
    arch = next(a for a in ARCHES if unsigned_zip.endswith(zip_name(a, False)))
    parts, who, commit, created = sbom.parts_of(found[sbom_names(arch)[1]])
    files = []
    for name, data in found.items():
        if name == SUMS or name in sbom_names(arch):
            continue
        if name in PROGRAMS:
            data = read(os.path.join(programs_dir, name))
        elif name == BUILDINFO:
            data += f"{SIGNER_FIELD}\n {signer}\n".encode()
        files.append((name, data))
    spdx, cyclonedx = documents(sbom.Meta("korvel", VERSION, arch, commit, created, signed=True, publisher=who), files,
                                parts, out)
    described = [spdx, (cyclonedx[0], sbom.sealed(cyclonedx[1], seal))]
    write_zip(out, top, files + described, stamp)
    write_beside(out, described)


def write_sums(folder_path):
    """SHA256SUMS over the other files of a signed release."""
    checksums.write(folder_path, sorted(release_files()[:-1]))


def main(argv):
    try:
        return command(argv)
    except (OSError, ValueError, zipfile.BadZipFile, release_key.Refused) as error:
        print(f"release_zip.py: {error}", file=sys.stderr)
        return 1


def command(argv):
    if len(argv) == 6 and argv[1] == "unsigned":
        unsigned(argv[2], argv[3], int(argv[4]), argv[5])
    elif len(argv) == 5 and argv[1] == "signed":
        key = release_key.SigningKey.from_environment()
        signed(argv[2], argv[3], argv[4], sbom.jsf_seal(key.sign, key.certificates_der()))
    elif len(argv) == 3 and argv[1] == "sums":
        write_sums(argv[2])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
