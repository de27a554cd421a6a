#!/usr/bin/python3
"""Signed releases of dist/, with a throwaway CA made for this run:

- signing verifies (scripts/verify-release.sh --ca), and signing again with
  the other form of the same credentials at the same time gives the same bytes;
- a flipped code byte fails the verification, and Wine's WinVerifyTrust
  tells signed, unsigned and tampered programs apart (each architecture);
- a wrong password and a certificate without code signing are refused with
  one line, exit code 1 and no files;
- the signed programs carry a security directory and a valid CheckSum, and
  the zips hold what they should.
Usage: run_release_tests.py"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN = os.path.join(ROOT, "scripts", "sign-release.sh")
VERIFY = os.path.join(ROOT, "scripts", "verify-release.sh")
ARCHES = ("x64", "x86")
PROGRAMS = ["brisal.exe", "korvel-capture.exe", "korvel-report.exe", "korvel.exe"]
VERSION = open(os.path.join(ROOT, "VERSION")).read().strip()
WHEN = "1767225600"  # 2026-01-01
TRUST_E_NOSIGNATURE = "800B0100"
TRUST_E_BAD_DIGEST = "80096010"

tally = Tally("signed releases")
check = tally.check


def run(*command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=ROOT)
    return result.returncode, result.stdout, result.stderr


def files_of(folder):
    found = {}
    for path, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(path, name), "rb") as f:
                found[os.path.relpath(os.path.join(path, name), folder)] = f.read()
    return found


def flip_code_byte(path):
    """Flips a byte in the middle of the first code section."""
    pe = pefile.PE(path, fast_load=True)
    code = next(s for s in pe.sections if s.Characteristics & 0x20)
    offset = code.PointerToRawData + code.SizeOfRawData // 2
    pe.close()
    with open(path, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)
        f.seek(offset)
        f.write(bytes([byte[0] ^ 0xFF]))


def signing(pki, work):
    first, second = os.path.join(work, "first"), os.path.join(work, "second")
    code, _, err = run(SIGN, "--pkcs12", f"{pki}/leaf.p12", "--password-file", f"{pki}/password",
                       "--time", WHEN, "--out", first)
    check("signs with a PKCS#12 file", code == 0, err)
    code, out, err = run(VERIFY, first, "--ca", f"{pki}/ca.pem")
    check("the release verifies against the CA", code == 0, out + err)
    check("one line per file", len(out.splitlines()) == 2 * len(PROGRAMS) + 2 + 1 + 1, out)
    code, _, err = run(SIGN, "--key", f"{pki}/leaf-encrypted.key", "--certs", f"{pki}/chain.pem",
                       "--password-file", f"{pki}/password", "--time", WHEN, "--out", second)
    check("signs with a key and a chain", code == 0, err)
    check("the same credentials at the same time give the same bytes", files_of(first) == files_of(second),
          sorted(set(files_of(first).items()) ^ set(files_of(second).items()))[:1])
    return first


def tampering(pki, release, work):
    tampered = os.path.join(work, "tampered")
    shutil.copytree(release, tampered)
    flip_code_byte(os.path.join(tampered, "windows-x64", "korvel.exe"))
    code, out, _ = run(VERIFY, tampered, "--ca", f"{pki}/ca.pem")
    check("a flipped code byte fails the verification", code == 1 and "FAIL  windows-x64/korvel.exe" in out, out)
    code, _, _ = run("osslsigncode", "verify", "-CAfile", f"{pki}/ca.pem", "-in",
                     os.path.join(tampered, "windows-x64", "korvel.exe"))
    check("osslsigncode finds the flipped byte", code != 0, code)
    return os.path.join(tampered, "windows-x64", "korvel.exe")


def refusals(pki, work):
    wrong = os.path.join(work, "wrong-password")
    with open(wrong, "w") as f:
        f.write("not the password\n")
    cases = [
        ("a wrong password", ["--pkcs12", f"{pki}/leaf.p12", "--password-file", wrong], "wrong password"),
        ("the CA's own key", ["--key", f"{pki}/ca.key", "--certs", f"{pki}/ca.pem"], "code signing"),
    ]
    for name, args, reason in cases:
        out_dir = os.path.join(work, "refused")
        code, out, err = run(SIGN, *args, "--out", out_dir)
        check(f"{name}: one line, exit code 1", code == 1 and len(err.splitlines()) == 1 and reason in err,
              (code, err))
        check(f"{name}: no files", not os.path.exists(out_dir) and out == "", os.path.exists(out_dir))
        check(f"{name}: no password in what is said", "throwaway-" not in out + err)


def pe_checks(release):
    for arch in ARCHES:
        for program in PROGRAMS:
            path = os.path.join(release, f"windows-{arch}", program)
            pe = pefile.PE(path)
            security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
            check(f"{arch} {program}: a certificate table ends the file",
                  security.VirtualAddress % 8 == 0 and security.VirtualAddress + security.Size == os.path.getsize(path),
                  (security.VirtualAddress, security.Size))
            check(f"{arch} {program}: a valid CheckSum", pe.verify_checksum())
            unsigned = pefile.PE(os.path.join(ROOT, "dist", f"windows-{arch}", program), fast_load=True)
            check(f"{arch} {program}: dist/ stays unsigned", unsigned.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size == 0)


def zip_checks(release):
    for arch in ARCHES:
        top = f"korvel-{VERSION}-windows-{arch}/"
        for path, programs in ((os.path.join(ROOT, "dist", f"korvel-{VERSION}-windows-{arch}-unsigned.zip"),
                                os.path.join(ROOT, "dist", f"windows-{arch}")),
                               (os.path.join(release, f"korvel-{VERSION}-windows-{arch}.zip"),
                                os.path.join(release, f"windows-{arch}"))):
            name = os.path.basename(path)
            with zipfile.ZipFile(path) as archive:
                listing = archive.namelist()
                files = {n[len(top):]: archive.read(n) for n in listing}
            check(f"{name} listing", listing == [top + n for n in PROGRAMS + ["README.txt", "BUILDINFO", "SHA256SUMS"]],
                  listing)
            check(f"{name} holds the programs", all(files.get(p) == open(os.path.join(programs, p), "rb").read()
                                                    for p in PROGRAMS))
            sums = {line.split("  ", 1)[1]: line.split("  ", 1)[0] for line in files["SHA256SUMS"].decode().splitlines()}
            check(f"{name} SHA256SUMS holds", sums == {n: hashlib.sha256(d).hexdigest() for n, d in files.items()
                                                       if n != "SHA256SUMS"}, sums)
            readme = files["README.txt"]
            check(f"{name} README.txt has CRLF lines", readme.count(b"\r\n") == readme.count(b"\n") > 20)
            signed = "-unsigned" not in name
            check(f"{name} BUILDINFO", b"Commit: " in files["BUILDINFO"] and
                  (b"Signed-With:\n osslsigncode (= " in files["BUILDINFO"]) == signed, files["BUILDINFO"])


def trust_under_wine(release, tampered):
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=os.path.join(ROOT, "build", "wineprefix"),
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    for arch in ARCHES:
        program = os.path.join(ROOT, "build", f"wine-tests-{arch}", "tests", "wine", "verify_trust.exe")
        cases = [("signed", os.path.join(release, f"windows-{arch}", "korvel.exe"), "00000000"),
                 ("unsigned", os.path.join(ROOT, "dist", f"windows-{arch}", "korvel.exe"), TRUST_E_NOSIGNATURE),
                 ("tampered", tampered, TRUST_E_BAD_DIGEST)]
        for name, path, expected in cases:
            result = subprocess.run(["wine", program, path], env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, text=True, timeout=300)
            check(f"WinVerifyTrust ({arch}) on a {name} program", result.stdout.strip() == expected, result.stdout)


def main():
    with tempfile.TemporaryDirectory() as work:
        pki = os.path.join(work, "pki")
        subprocess.run([os.path.join(ROOT, "tests", "release", "throwaway_pki.sh"), pki], check=True)
        release = signing(pki, work)
        tampered = tampering(pki, release, work)
        refusals(pki, work)
        pe_checks(release)
        zip_checks(release)
        trust_under_wine(release, tampered)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
