#!/usr/bin/python3
"""Signed releases of dist/, with a throwaway CA made for this run:

- signing verifies (scripts/verify-release.sh --ca), and signing again with
  the other form of the same credentials at the same time gives the same bytes;
- a flipped code byte fails the verification, and Wine's WinVerifyTrust
  tells signed, unsigned and tampered programs apart (each architecture);
- one table of altered releases, each made consistent as an attacker would
  (signed zip and SHA256SUMS made anew), is refused with the line that names
  its reason;
- the signature reader's DER, in a table of what it accepts and refuses;
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
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import authenticode  # noqa: E402
import pe_signature  # noqa: E402
import release_description  # noqa: E402
import release_zip  # noqa: E402
import wine_host  # noqa: E402
SIGN = os.path.join(ROOT, "scripts", "sign-release.sh")
VERIFY = os.path.join(ROOT, "scripts", "verify-release.sh")
ARCHES = tuple(release_description.ARCHES)
PROGRAMS = ["brisal.exe", "korvel-capture.exe", "korvel-report.exe", "korvel.exe"]
VERSION = release_description.VERSION
WHEN = "1767225600"  # 2026-01-01
TRUST_E_NOSIGNATURE = "800B0100"
TRUST_E_BAD_DIGEST = "80096010"

tally = Tally("signed releases")
check = tally.check


def run(*command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=ROOT, timeout=120)
    return result.returncode, result.stdout, result.stderr


def signing_fingerprint(pem):
    """The certificate's SHA-256 fingerprint, as openssl gives it."""
    out = run("openssl", "x509", "-in", pem, "-noout", "-fingerprint", "-sha256")[1]
    return "sha256:" + out.split("=", 1)[1].strip().replace(":", "").lower()


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
    check("one line per file", len(out.splitlines()) == len(ARCHES) * (len(PROGRAMS) + 3) + 1 + 1, out)
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


def zip_checks(pki, release):
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
            documents = [f"korvel-{VERSION}-windows-{arch}.{kind}.json" for kind in ("spdx", "cdx")]
            check(f"{name} listing", listing == [top + n for n in PROGRAMS + [
                "README.txt", "LICENSE", "BUILDINFO", "THIRD-PARTY-NOTICES.txt"] + documents + ["SHA256SUMS"]], listing)
            check(f"{name} holds the programs", all(files.get(p) == open(os.path.join(programs, p), "rb").read()
                                                    for p in PROGRAMS))
            sums = {line.split("  ", 1)[1]: line.split("  ", 1)[0] for line in files["SHA256SUMS"].decode().splitlines()}
            check(f"{name} SHA256SUMS holds", sums == {n: hashlib.sha256(d).hexdigest() for n, d in files.items()
                                                       if n != "SHA256SUMS"}, sums)
            readme = files["README.txt"]
            check(f"{name} README.txt has CRLF lines", readme.count(b"\r\n") == readme.count(b"\n") > 20)
            title, underline = readme.split(b"\r\n")[:2]
            check(f"{name} README.txt's title is underlined", underline == b"=" * len(title) and
                  arch.encode() in title, (title, underline))
            with open(os.path.join(ROOT, "LICENSE"), "rb") as f:
                check(f"{name} LICENSE is the project's, in CRLF lines",
                      files["LICENSE"].replace(b"\r\n", b"\n") == f.read() and b"\r\n" in files["LICENSE"] and
                      files["LICENSE"].count(b"\r\n") == files["LICENSE"].count(b"\n"))
            signed = "-unsigned" not in name
            signer = f"Signed-By:\n {signing_fingerprint(os.path.join(pki, 'leaf.pem'))}\n".encode()
            check(f"{name} BUILDINFO", b"Commit: " in files["BUILDINFO"] and
                  (signer in files["BUILDINFO"]) == signed, files["BUILDINFO"])


def republish(folder):
    """What an attacker does after changing a program or a signature: the signed zips and SHA256SUMS anew."""
    for arch in ARCHES:
        try:
            release_zip.signed(os.path.join(ROOT, "dist", release_description.zip_name(arch, False)),
                               os.path.join(folder, f"windows-{arch}"),
                               os.path.join(folder, release_description.zip_name(arch, True)))
        except ValueError:
            pass  # a signature the zip code cannot read either
    release_zip.write_sums(folder)


def resign(folder, pki, *signings, arches=ARCHES):
    """Every program (of the architectures given) signed anew: each step is (osslsigncode command, credentials),
    on the last step's output."""
    for arch in arches:
        for name in PROGRAMS:
            program = os.path.join(folder, f"windows-{arch}", name)
            current = os.path.join(ROOT, "dist", f"windows-{arch}", name)
            for i, (command, options) in enumerate(signings):
                out = f"{folder}-step{i}.exe"
                if os.path.exists(out):
                    os.remove(out)
                subprocess.run(["osslsigncode", *command, *[o.replace("PKI", pki) for o in options], "-in", current,
                                "-out", out], stdout=subprocess.DEVNULL, check=True)
                current = out
            os.replace(current, program)
            subprocess.run([os.path.join(ROOT, "scripts", "pe_signature.py"), "extract", program, program + ".sig"],
                           check=True)
    republish(folder)


GENUINE = (["sign", "-h", "sha256"], ["-certs", "PKI/chain.pem", "-key", "PKI/leaf.key"])
SECOND = (["sign", "-h", "sha256"], ["-certs", "PKI/second-chain.pem", "-key", "PKI/second.key"])
ATTACKER = (["sign", "-h", "sha256"], ["-certs", "PKI/attacker-chain.pem", "-key", "PKI/attacker.key"])
NESTED = (["sign", "-nest", "-h", "sha256"], ["-certs", "PKI/attacker-chain.pem", "-key", "PKI/attacker.key"])
NESTED_GENUINE = (["sign", "-nest", "-h", "sha256"], ["-certs", "PKI/chain.pem", "-key", "PKI/leaf.key"])


# The throwaway certificates are valid for 30 days from the run's start.
MADE = int(time.time())
DAY = 86400


def stamp(tsa, when=MADE + 60):
    return (["add"], ["-TSA-certs", f"PKI/{tsa}.pem", "-TSA-key", f"PKI/{tsa}.key", "-TSA-time", str(when)])


def append_sum(folder, line):
    with open(os.path.join(folder, "SHA256SUMS"), "a") as f:
        f.write(line)


def extra_dll(folder, _):
    shutil.copy(os.path.join(ROOT, "dist", "windows-x64", "ostrum.dll"), os.path.join(folder, "windows-x64"))
    with open(os.path.join(folder, "windows-x64", "ostrum.dll"), "rb") as f:
        append_sum(folder, f"{hashlib.sha256(f.read()).hexdigest()}  windows-x64/ostrum.dll\n")


def linked_folder(folder, _):
    outside = folder + "-outside-x86"
    os.rename(os.path.join(folder, "windows-x86"), outside)
    os.symlink(outside, os.path.join(folder, "windows-x86"))
    with open(os.path.join(folder, "SHA256SUMS")) as f:
        kept = [line for line in f if "windows-x86/" not in line]
    with open(os.path.join(folder, "SHA256SUMS"), "w") as f:
        f.writelines(kept)


def empty_signatures(folder, _):
    for arch in ARCHES:
        for program in PROGRAMS:
            with open(os.path.join(folder, f"windows-{arch}", program + ".sig"), "wb") as f:
                f.write(b"\x30\x00")
    republish(folder)


def rewrite_signed_zip(folder, name, change):
    """The signed x64 zip with its member NAME changed, its own sums written anew."""
    path = os.path.join(folder, release_description.zip_name("x64", True))
    with zipfile.ZipFile(path) as archive:
        files, top = release_zip.members(archive)
        stamp_time = archive.infolist()[0].date_time
    files[name] = change(files[name])
    release_zip.write_zip(path, top, [(n, d) for n, d in files.items() if n != "SHA256SUMS"], stamp_time)


def signer_line(folder, _):
    """The signed zip with its signer line claiming another publisher, in terminal colours."""
    rewrite_signed_zip(folder, "BUILDINFO",
                       lambda data: data.split(b"Signed-By:")[0] + b"Signed-By:\n \x1b[32mTrusted Publisher\n")
    release_zip.write_sums(folder)


def der(tag, value):
    """One DER element, its length in the shortest form."""
    n = len(value)
    size = n.to_bytes(max(1, (n.bit_length() + 7) // 8), "big")
    return bytes([tag]) + (bytes([n]) if n < 0x80 else bytes([0x80 | len(size)]) + size) + value


def rebuilt(node, children):
    return der(node.tag, b"".join(children))


def signer_infos(sig, change):
    """The signature with its SignerInfos SET replaced by change(signer infos) -> [encodings]."""
    content_type, wrapped = authenticode.parse_der(sig).children()
    signed_data = wrapped.children()[0]
    fields = signed_data.children()
    infos = rebuilt(fields[-1], change(fields[-1].children()))
    inner = rebuilt(signed_data, [f.encoding for f in fields[:-1]] + [infos])
    return der(0x30, content_type.encoding + rebuilt(wrapped, [inner]))


def two_signer_infos(sig):
    return signer_infos(sig, lambda infos: [infos[0].encoding, infos[0].encoding])


def two_time_stamps(sig):
    """The SignerInfo with two time-stamp attributes (tokens that are no tokens: the reader refuses the second
    before it looks at either)."""
    attribute = der(0x30, der(0x06, bytes.fromhex("2b0601040182370303 01".replace(" ", ""))) + der(0x31, der(0x30, b"")))
    unsigned = der(0xA1, attribute + attribute)
    return signer_infos(sig, lambda infos: [rebuilt(infos[0], [f.encoding for f in infos[0].children()] + [unsigned])])


def with_signature(folder, arch, program, sig):
    """dist's program with this signature attached, as published, and the release made consistent again."""
    with open(os.path.join(ROOT, "dist", f"windows-{arch}", program), "rb") as f:
        signed = pe_signature.attach(f.read(), sig)
    with open(os.path.join(folder, f"windows-{arch}", program), "wb") as f:
        f.write(signed)
    with open(os.path.join(folder, f"windows-{arch}", program + ".sig"), "wb") as f:
        f.write(sig)
    republish(folder)


def changed_signature(change):
    def alter(folder, _):
        with open(os.path.join(folder, "windows-x64", "korvel.exe.sig"), "rb") as f:
            with_signature(folder, "x64", "korvel.exe", change(f.read()))
    return alter


def lifted(swap_digest):
    """korvel.exe given brisal.exe's signature; with its file digest swapped for korvel.exe's, that signature
    claims korvel.exe, but its signed attributes still bind brisal.exe's content."""
    def alter(folder, _):
        with open(os.path.join(folder, "windows-x64", "brisal.exe.sig"), "rb") as f:
            sig = f.read()
        if swap_digest:
            signature = authenticode.read_signature(sig)
            with open(os.path.join(ROOT, "dist", "windows-x64", "korvel.exe"), "rb") as f:
                digest = pe_signature.authenticode_digest(f.read(), signature.digest)
            sig = sig.replace(signature.file_digest, digest, 1)
        with_signature(folder, "x64", "korvel.exe", sig)
    return alter


def changed_sbom(inside):
    """The x64 CycloneDX document with one more space, beside the zip or in it."""
    def alter(folder, _):
        name = release_description.sbom_names("x64")[1]
        if inside:
            rewrite_signed_zip(folder, name, lambda data: data.replace(b"{", b"{ ", 1))
        else:
            with open(os.path.join(folder, name), "r+b") as f:
                data = f.read().replace(b"{", b"{ ", 1)
                f.seek(0)
                f.write(data)
        release_zip.write_sums(folder)
    return alter


FIRST_SUM = sorted(release_description.release_files()[:-1])[0]  # SHA256SUMS's first line names it


def changed_sums(change):
    """SHA256SUMS with its lines changed, every sum still true."""
    def alter(folder, _):
        path = os.path.join(folder, "SHA256SUMS")
        with open(path) as f:
            lines = f.readlines()
        with open(path, "w") as f:
            f.writelines(change(lines))
    return alter


def altered_value(sig):
    """The signature value with one bit flipped: everything else still consistent."""
    value = authenticode.read_signature(sig).signature_value
    return sig.replace(value, bytes([value[0] ^ 1]) + value[1:], 1)


def linked_program(folder, _):
    """A listed program that is a link to its own genuine bytes: the sums hold, the shape does not."""
    program = os.path.join(folder, "windows-x64", "korvel.exe")
    os.rename(program, folder + "-outside-korvel.exe")
    os.symlink(folder + "-outside-korvel.exe", program)


def not_a_zip(folder, _):
    with open(os.path.join(folder, release_description.zip_name("x86", True)), "wb") as f:
        f.write(b"not a zip\n")
    release_zip.write_sums(folder)


# (what, how, which verifications refuse it: "ca" with --ca, "both" also without, "plain" only without; the line)
ALTERATIONS = [
    ("a listed extra DLL", extra_dll, "both", "windows-x64/ostrum.dll: is not a file of the release"),
    ("an unlisted symlink", lambda f, _: os.symlink("korvel.exe", os.path.join(f, "windows-x64", "k.exe")), "both",
     "windows-x64/k.exe: is a symbolic link"),
    ("an unlisted FIFO", lambda f, _: os.mkfifo(os.path.join(f, "windows-x86", "pipe")), "plain",
     "windows-x86/pipe: is not a file of the release"),
    ("a symlinked architecture folder, its lines dropped", linked_folder, "both", "windows-x86: is a symbolic link"),
    ("an attacker's signature nested in the genuine one", lambda f, p: resign(f, p, GENUINE, NESTED), "both",
     "FAIL  windows-x64/korvel.exe.sig: carries a nested signature"),
    ("an attacker's signature, the genuine one nested", lambda f, p: resign(f, p, ATTACKER, NESTED_GENUINE), "both",
     "FAIL  windows-x64/korvel.exe.sig: carries a nested signature"),
    ("an attacker's signature alone", lambda f, p: resign(f, p, ATTACKER), "ca",
     "FAIL  windows-x64/korvel.exe.sig: its certificate chain does not verify"),
    ("an added unauthenticated attribute",
     lambda f, p: resign(f, p, GENUINE, (["add", "-addUnauthenticatedBlob"], [])), "both",
     "FAIL  windows-x64/korvel.exe.sig: carries an unauthenticated attribute"),
    ("every .sig 30 00", empty_signatures, "plain", "FAIL  windows-x86/korvel.exe.sig: is not one well-formed PKCS#7 SignedData"),
    ("a changed signer line", signer_line, "both",
     "FAIL  korvel-1.0.0-windows-x64.zip: rebuilt from dist/ and the signatures, it differs"),
    ("a SHA256SUMS line naming /dev/zero", lambda f, _: append_sum(f, "0" * 64 + "  /dev/zero\n"), "plain",
     f"SHA256SUMS: line {len(release_description.release_files())} names /dev/zero, which is not a file of the release"),
    ("a published zip that is not a zip", not_a_zip, "plain",
     "FAIL  korvel-1.0.0-windows-x86.zip: rebuilt from dist/ and the signatures, it differs"),
    ("a listed program linked to its genuine bytes", linked_program, "both",
     "windows-x64/korvel.exe: is a symbolic link"),
    ("arm64's programs signed with a second certificate of the same CA",
     lambda f, p: resign(f, p, SECOND, arches=("arm64",)), "both",
     "FAIL  windows-arm64/brisal.exe.sig: is made with another certificate than windows-x64/brisal.exe.sig"),
    ("brisal.exe's signature on korvel.exe", lifted(False), "both",
     "FAIL  windows-x64/korvel.exe.sig: does not cover the Authenticode digest of the program"),
    ("brisal.exe's signature on korvel.exe, its file digest swapped", lifted(True), "both",
     "FAIL  windows-x64/korvel.exe.sig: its signed message digest does not match its content"),
    ("the CycloneDX document beside the x64 zip altered", changed_sbom(False), "both",
     "FAIL  korvel-1.0.0-windows-x64.cdx.json: rebuilt from dist/ and the signatures, it differs"),
    ("the CycloneDX document in the x64 zip altered", changed_sbom(True), "both",
     "FAIL  korvel-1.0.0-windows-x64.zip: rebuilt from dist/ and the signatures, it differs"),
    ("a SignerInfo with two time-stamp attributes", changed_signature(two_time_stamps), "both",
     "FAIL  windows-x64/korvel.exe.sig: carries an unauthenticated attribute 1.3.6.1.4.1.311.3.3.1 "
     "that is no single time stamp"),
    ("a SignedData with two SignerInfos", changed_signature(two_signer_infos), "both",
     "FAIL  windows-x64/korvel.exe.sig: holds 2 signatures, not one"),
    ("a signature value with one bit flipped", changed_signature(altered_value), "both",
     "FAIL  windows-x64/korvel.exe.sig: does not verify under the certificate it carries"),
    ("a SHA256SUMS line dropped", changed_sums(lambda lines: lines[1:]), "plain",
     f"SHA256SUMS: lists no sum for {FIRST_SUM}"),
    ("a SHA256SUMS line given twice", changed_sums(lambda lines: lines[:1] + lines), "plain",
     f"SHA256SUMS: line 2 names {FIRST_SUM} a second time"),
    ("SHA256SUMS lines in another order", changed_sums(lambda lines: lines[::-1]), "plain",
     "FAIL  SHA256SUMS: is not in the form sign-release.sh writes"),
]
TIME_STAMPS = [
    ("a forged time stamp", lambda f, p: resign(f, p, GENUINE, stamp("attacker-tsa")), "ca",
     "FAIL  windows-x64/korvel.exe.sig: carries a time stamp that does not verify"),
    ("a time stamp a day before the signing certificate",
     lambda f, p: resign(f, p, GENUINE, stamp("tsa", MADE - DAY)), "both",
     "outside the validity of CN=korvel throwaway leaf"),
    ("a time stamp after the certificates expired",
     lambda f, p: resign(f, p, GENUINE, stamp("tsa", MADE + 31 * DAY)), "both",
     "outside the validity of CN=korvel throwaway leaf"),
]


def verify_copy(pki, release, work, how, with_ca):
    altered = os.path.join(work, "altered")
    shutil.rmtree(altered, ignore_errors=True)
    shutil.rmtree(altered + "-outside-x86", ignore_errors=True)
    if os.path.exists(altered + "-outside-korvel.exe"):
        os.remove(altered + "-outside-korvel.exe")
    shutil.copytree(release, altered)
    how(altered, pki)
    try:
        return run(VERIFY, altered, *(["--ca", f"{pki}/ca.pem"] if with_ca else []))
    except subprocess.TimeoutExpired:
        return None, "", "hangs"


def alterations(pki, release, work):
    stamps = "-TSA-certs" in subprocess.run(["osslsigncode", "add", "--help"], stdout=subprocess.PIPE,
                                            stderr=subprocess.STDOUT, text=True).stdout
    for what, how, refusing, line in ALTERATIONS + (TIME_STAMPS if stamps else []):
        for ca in (True, False) if refusing != "plain" else (False,):
            code, out, err = verify_copy(pki, release, work, how, ca)
            if ca or refusing != "ca":
                check(f"refused{' with --ca' if ca else ''}: {what}", code == 1 and line in out + err, (code, out + err))
            else:  # what only a CA can tell is passed, and said to be unchecked
                check(f"without --ca, not called the publisher's: {what}",
                      code == 0 and "no certificate chain was checked" in out.splitlines()[-1], (code, out + err))
    if stamps:
        code, out, err = verify_copy(pki, release, work, lambda f, p: resign(f, p, GENUINE, stamp("tsa")), True)
        check("a time stamp of the CA's authority verifies", code == 0, out + err)
    else:
        print("(this osslsigncode has no built-in time-stamp authority: time stamps are not tried)")


def sequence(n, length=None):
    """A SEQUENCE of n bytes, as the signature is, its length written as given (default: the shortest form)."""
    return der(0x30, bytes(n)) if length is None else b"\x30" + length + bytes(n)


# (what, bytes, accepted): the reader's rules for lengths and for what follows the element
DER_TABLE = [
    ("127 bytes, short form", sequence(127, b"\x7f"), True),
    ("127 bytes, long form", sequence(127, b"\x81\x7f"), False),
    ("128 bytes, long form", sequence(128, b"\x81\x80"), True),
    ("255 bytes, long form", sequence(255, b"\x81\xff"), True),
    ("255 bytes, long form of two bytes", sequence(255, b"\x82\x00\xff"), False),
    ("256 bytes, long form", sequence(256, b"\x82\x01\x00"), True),
    ("65,535 bytes, long form", sequence(65535, b"\x82\xff\xff"), True),
    ("65,535 bytes, a leading zero", sequence(65535, b"\x83\x00\xff\xff"), False),
    ("128 bytes, a leading zero", sequence(128, b"\x82\x00\x80"), False),
    ("indefinite length", b"\x30\x80" + bytes(3) + b"\x00\x00", False),
    ("a length past the data", b"\x30\x81\x80" + bytes(127), False),
    ("a trailing byte", sequence(128) + b"\x00", False),
    ("a tag of two bytes", b"\x3f\x01\x00", False),
]


def der_reader(release):
    for what, data, accepted in DER_TABLE:
        try:
            authenticode.parse_der(data)
            got = True
        except authenticode.Malformed:
            got = False
        check(f"DER: {what} {'accepted' if accepted else 'refused'}", got == accepted)
    with open(os.path.join(release, "windows-x64", "korvel.exe.sig"), "rb") as f:
        sig = f.read()
    outer = authenticode.parse_der(sig)
    size = der(0x30, outer.value)[2:outer.start]  # the shortest form's length bytes
    longer = b"\x30" + bytes([0x80 | (len(size) + 1), 0]) + size + outer.value
    check("DER: a real signature reads", authenticode.read_signature(sig).file_digest)
    try:
        authenticode.read_signature(longer)
        refusal = None
    except authenticode.Malformed as error:
        refusal = str(error)
    check("DER: a real signature with its outer length one byte longer is refused",
          refusal == "DER length not in its shortest form", refusal)


def trust_under_wine(release, tampered):
    for arch in ARCHES:
        program = os.path.join(ROOT, "build", f"wine-tests-{arch}", "tests", "wine", "verify_trust.exe")
        cases = [("signed", os.path.join(release, f"windows-{arch}", "korvel.exe"), "00000000"),
                 ("unsigned", os.path.join(ROOT, "dist", f"windows-{arch}", "korvel.exe"), TRUST_E_NOSIGNATURE),
                 ("tampered", tampered, TRUST_E_BAD_DIGEST)]
        # A prefix of its own: this suite runs beside the x64 and x86 Wine suites.
        with wine_host.session(arch, prefix="wineprefix-release") as host:
            for name, path, expected in cases:
                result = host.run(["wine", program, path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                check(f"WinVerifyTrust ({arch}) on a {name} program", result.stdout.decode().strip() == expected,
                      result.stdout)


def main():
    # In the checkout, where every architecture's Wine sees it.
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        pki = os.path.join(work, "pki")
        subprocess.run([os.path.join(ROOT, "tests", "release", "throwaway_pki.sh"), pki], check=True)
        release = signing(pki, work)
        tampered = tampering(pki, release, work)
        refusals(pki, work)
        pe_checks(release)
        zip_checks(pki, release)
        der_reader(release)
        alterations(pki, release, work)
        trust_under_wine(release, tampered)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
