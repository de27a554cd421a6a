#!/usr/bin/python3
"""Signed releases of dist/, with a throwaway CA made for this run and a
SoftHSM2 token whose key was made inside it:

- signing verifies (scripts/verify-release.sh --ca), and signing again with
  the other form of the same credentials at the same time gives the same bytes;
- the token's key signs a whole release, time-stamped over HTTP by a
  throwaway RFC 3161 authority on loopback, with osslsigncode 2.5 and with 2.9
  (the one the machine lacks unpacked from Debian's package into build/); no
  process listing taken meanwhile shows the PIN;
- the SBOMs' JSF signatures and the DSSE envelope of the provenance verify
  under the signing certificate, checked here with their canonical form and
  DSSE's pre-authentication encoding built by the suite itself and openssl;
- bad credentials, an authority that does not answer and a tool that crashes
  get one line, exit code 1 and no files;
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
import base64
import hashlib
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import authenticode  # noqa: E402
import pe_signature  # noqa: E402
import provenance  # noqa: E402
import release_description  # noqa: E402
import release_key  # noqa: E402
import release_zip  # noqa: E402
import sbom  # noqa: E402
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


def run(*command, env=None):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=ROOT, timeout=300,
                            env=dict(os.environ, **(env or {})))
    return result.returncode, result.stdout, result.stderr


# The token of the throwaway PKI: its module and its key, as an RFC 7512 URI.
MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN_KEY = "pkcs11:token=signer;object=release;type=private"


def token(pki, pin=None, key=TOKEN_KEY, module=MODULE, certs="token-chain.pem"):
    """sign-release.sh's options for the token's key."""
    return ["--pkcs11", key, "--pkcs11-module", module, "--certs", f"{pki}/{certs}", "--password-file",
            pin or f"{pki}/token/pin"]


# osslsigncode by version: the machine's own, and the other one unpacked from Debian's package.
OSSLSIGNCODE = {}
DEBIAN_SUITES = {"2.5": "bookworm", "2.9": "bookworm-backports"}


def osslsigncode_version(path):
    out = subprocess.run([path, "--version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    return out.split()[1].rstrip(",") if out.startswith("osslsigncode ") else None


def fetch_osslsigncode(version):
    """osslsigncode of a Debian suite, unpacked into build/osslsigncode-VERSION, through apt's own download with
    lists of its own: the machine's apt sources stay as they are."""
    folder = os.path.join(ROOT, "build", f"osslsigncode-{version}")
    binary = os.path.join(folder, "root", "usr", "bin", "osslsigncode")
    if os.path.isfile(binary) and osslsigncode_version(binary) == version:
        return binary
    apt = os.path.join(ROOT, "build", "apt-osslsigncode")
    for sub in ("lists/partial", "cache/archives/partial", "parts"):
        os.makedirs(os.path.join(apt, sub), exist_ok=True)
    mirror = "http://deb.debian.org/debian"
    with open("/etc/apt/sources.list.d/debian.sources") as f:
        mirror = next((line.split()[1] for line in f if line.startswith("URIs:")), mirror)
    with open(os.path.join(apt, "sources.list"), "w") as f:
        for suite in DEBIAN_SUITES.values():
            f.write(f"deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] {mirror} {suite} main\n")
    options = [f"-oDir::Etc::SourceList={apt}/sources.list", f"-oDir::Etc::SourceParts={apt}/parts",
               f"-oDir::State::Lists={apt}/lists", f"-oDir::Cache={apt}/cache", "-qq"]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for command in (["update"], ["download", f"osslsigncode/{DEBIAN_SUITES[version]}"]):
        subprocess.run(["apt-get", *options, *command], cwd=folder, check=True, stdout=subprocess.DEVNULL)
    package, = [name for name in os.listdir(folder) if name.endswith(".deb")]
    subprocess.run(["dpkg-deb", "-x", os.path.join(folder, package), os.path.join(folder, "root")], check=True)
    return binary


def both_osslsigncodes():
    installed = osslsigncode_version("osslsigncode")
    for version in DEBIAN_SUITES:
        OSSLSIGNCODE[version] = shutil.which("osslsigncode") if installed == version else fetch_osslsigncode(version)
        check(f"osslsigncode {version} at hand", osslsigncode_version(OSSLSIGNCODE[version]) == version,
              OSSLSIGNCODE[version])


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
    check("one line per file", len(out.splitlines()) == len(ARCHES) * (len(PROGRAMS) + 3) + 1 + 1 + 1, out)
    code, _, err = run(SIGN, "--key", f"{pki}/leaf-encrypted.key", "--certs", f"{pki}/chain.pem",
                       "--password-file", f"{pki}/password", "--time", WHEN, "--out", second)
    check("signs with a key and a chain", code == 0, err)
    check("the same credentials at the same time give the same bytes", files_of(first) == files_of(second),
          sorted(set(files_of(first).items()) ^ set(files_of(second).items()))[:1])
    return first


class TimeStampAuthority:
    """A throwaway RFC 3161 authority on loopback: openssl ts -reply behind an HTTP server, answering with the
    PKI's time-stamping certificate (its extended key usage critical)."""

    def __init__(self, pki):
        self.pki = pki
        config = os.path.join(pki, "tsa.cnf")
        with open(config, "w") as f:
            f.write(f"""[ tsa ]
default_tsa = authority
[ authority ]
serial = {pki}/tsa-serial
crypto_device = builtin
signer_cert = {pki}/tsa.pem
signer_key = {pki}/tsa.key
certs = {pki}/ca.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""")
        with open(os.path.join(pki, "tsa-serial"), "w") as f:
            f.write("01\n")

        class Answer(http.server.BaseHTTPRequestHandler):
            def do_POST(self):  # noqa: N802 (the server's name for it)
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                with tempfile.TemporaryDirectory() as work:
                    with open(os.path.join(work, "query"), "wb") as q:
                        q.write(query)
                    made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile",
                                           os.path.join(work, "query"), "-out", os.path.join(work, "reply")],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
                    reply = open(os.path.join(work, "reply"), "rb").read() if made else b""
                self.send_response(200 if made else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *_):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Answer)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def pin_listed(pin, process):
    """Whether any command line of this machine shows the PIN while process runs (polled until it ends)."""
    seen = False
    while process.poll() is None:
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/cmdline", "rb") as f:
                        seen |= pin.encode() in f.read()
                except OSError:
                    pass
    return seen


def token_signing(pki, work, tsa):
    """The token's key signs a whole release, time-stamped over HTTP, with each osslsigncode; each verifies with
    the CA and the authority's CA, and no process listing shows the PIN meanwhile. Gives the last release."""
    with open(f"{pki}/token/pin") as f:
        pin = f.read().strip()
    release = None
    for version, binary in OSSLSIGNCODE.items():
        release = os.path.join(work, f"token-{version}")
        started = time.monotonic()
        process = subprocess.Popen([SIGN, *token(pki), "--timestamp", tsa.url, "--out", release], cwd=ROOT,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   env=dict(os.environ, OSSLSIGNCODE=binary))
        shown = pin_listed(pin, process)
        out, err = process.communicate()
        signed = time.monotonic() - started
        check(f"osslsigncode {version}: the token's key signs a release, time-stamped over HTTP",
              process.returncode == 0, err)
        check(f"osslsigncode {version}: no process listing shows the PIN", not shown and pin not in out + err)
        stamped = [authenticode.read_signature(open(os.path.join(release, f"windows-{arch}", p + ".sig"), "rb").read())
                   .time_stamp for arch in ARCHES for p in PROGRAMS] if process.returncode == 0 else []
        check(f"osslsigncode {version}: every signature carries the authority's time stamp",
              stamped and all(stamped), len([s for s in stamped if s]))
        started = time.monotonic()
        code, out, err = run(VERIFY, release, "--ca", f"{pki}/ca.pem", "--tsa-ca", f"{pki}/ca.pem")
        check(f"osslsigncode {version}: the release verifies against the CA and the authority's CA", code == 0,
              out[-500:] + err)
        print(f"osslsigncode {version}: signed with the token and time-stamped in {signed:.1f} s, "
              f"verified in {time.monotonic() - started:.1f} s")
    return release


def sbom_signatures_hold(release, leaf_pem):
    """Every CycloneDX document of the release, beside each zip and in it, carries an RS256 JSF signature that
    verifies under the signing certificate over the document's canonical form without the value: here the
    canonical form is json's own sorted, compact dump (the documents hold no floats) and openssl verifies."""
    leaf = subprocess.run(["openssl", "x509", "-in", leaf_pem, "-outform", "DER"], stdout=subprocess.PIPE,
                          check=True).stdout
    for arch in ARCHES:
        name = release_description.sbom_names(arch)[1]
        with zipfile.ZipFile(os.path.join(release, release_description.zip_name(arch, True))) as archive:
            inside = archive.read(release_description.folder(arch) + name)
        with open(os.path.join(release, name), "rb") as f:
            beside = f.read()
        for where, data in ((name, beside), (f"{name} in its zip", inside)):
            document = json.loads(data)
            signature = document.get("signature", {})
            content = dict(document, signature={k: v for k, v in signature.items() if k != "value"})
            canonical = json.dumps(content, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()
            value = base64.urlsafe_b64decode(signature.get("value", "") + "==")
            check(f"{where}: RS256, the signing certificate first in its path, a signature that verifies",
                  signature.get("algorithm") == "RS256" and
                  base64.b64decode(signature.get("certificatePath", [""])[0]) == leaf and
                  openssl_verifies(leaf_pem, value, canonical), signature.get("algorithm"))


def openssl_verifies(certificate_pem, signature, data):
    with tempfile.TemporaryDirectory() as work:
        paths = {}
        for name, content in (("signature", signature), ("data", data)):
            paths[name] = os.path.join(work, name)
            with open(paths[name], "wb") as f:
                f.write(content)
        public = os.path.join(work, "public.pem")
        subprocess.run(["openssl", "x509", "-in", certificate_pem, "-noout", "-pubkey", "-out", public], check=True)
        return subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature", paths["signature"],
                               paths["data"]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def provenance_holds(release, leaf_pem):
    """The provenance: one DSSE envelope whose signature over DSSE's pre-authentication encoding (built here)
    verifies under the signing certificate, of an in-toto statement of SLSA provenance v1 naming each zip with
    its SHA-256, the commit and version of dist/'s BUILDINFO and its pins, and a builder."""
    with open(os.path.join(release, f"korvel-{VERSION}.intoto.jsonl"), "rb") as f:
        lines = f.read().split(b"\n")
    envelope = json.loads(lines[0])
    body = base64.b64decode(envelope["payload"])
    kind = envelope["payloadType"].encode()
    pae = b"DSSEv1 " + str(len(kind)).encode() + b" " + kind + b" " + str(len(body)).encode() + b" " + body
    check("provenance: one envelope on one line, its signature over the PAE verifies",
          lines[1:] == [b""] and kind == b"application/vnd.in-toto+json" and len(envelope["signatures"]) == 1 and
          openssl_verifies(leaf_pem, base64.b64decode(envelope["signatures"][0]["sig"]), pae), envelope["signatures"])
    statement = json.loads(body)
    zips = {}
    for arch in ARCHES:
        with open(os.path.join(release, release_description.zip_name(arch, True)), "rb") as f:
            zips[release_description.zip_name(arch, True)] = {"sha256": hashlib.sha256(f.read()).hexdigest()}
    check("provenance: an in-toto statement v1 of SLSA provenance v1, the release's zips its subjects",
          statement["_type"] == "https://in-toto.io/Statement/v1" and
          statement["predicateType"] == "https://slsa.dev/provenance/v1" and
          {s["name"]: s["digest"] for s in statement["subject"]} == zips, statement["subject"])
    with zipfile.ZipFile(os.path.join(ROOT, "dist", release_description.zip_name("x64", False))) as archive:
        buildinfo = archive.read(release_description.folder("x64") + "BUILDINFO").decode()
    commit = re.search(r"^Commit: (\S+)$", buildinfo, re.M)[1]
    pins = set(re.findall(r"^ (\S+) \(= ([^)]+)\)", buildinfo, re.M))
    definition = statement["predicate"]["buildDefinition"]
    check("provenance: the build's commit and version, BUILDINFO's pins with their digests, a build type, a builder",
          definition["externalParameters"] == {"commit": commit, "version": VERSION} and
          {(d["name"], d["uri"].split("@")[1].split("?")[0]) for d in definition["resolvedDependencies"]} == pins and
          all(len(d["digest"]["sha512"]) == 128 for d in definition["resolvedDependencies"]) and
          definition["buildType"].startswith("urn:") and statement["predicate"]["runDetails"]["builder"]["id"],
          (definition, pins))


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
    crash = os.path.join(work, "crashing-osslsigncode")
    with open(crash, "w") as f:
        f.write("#!/bin/sh\nkill -SEGV $$\n")
    os.chmod(crash, 0o755)
    with socket.socket() as unused:  # a port nothing answers on
        unused.bind(("127.0.0.1", 0))
        silent = f"http://127.0.0.1:{unused.getsockname()[1]}/"
    with open(f"{pki}/token/pin") as f:
        pin = f.read().strip()
    cases = [  # what, options, environment, the words of the one line
        ("a wrong password", ["--pkcs12", f"{pki}/leaf.p12", "--password-file", wrong], {}, "wrong password"),
        ("the CA's own key", ["--key", f"{pki}/ca.key", "--certs", f"{pki}/ca.pem"], {}, "code signing"),
        ("a wrong PIN", token(pki, pin=wrong), {}, "the token refused the PIN"),
        ("a URI that names no key on the token", token(pki, key="pkcs11:token=signer;object=absent;type=private"), {},
         "names no key on the token"),
        ("a token key that is not the certificate's", token(pki, certs="chain.pem"), {},
         "the key does not belong to the signing certificate"),
        ("a module that does not load", token(pki, module=os.path.join(work, "no-such-module.so")), {},
         "does not load"),
        ("an authority that does not answer", token(pki) + ["--timestamp", silent], {},
         f"no time stamp from {silent}"),
        ("osslsigncode crashing", token(pki), {"OSSLSIGNCODE": crash}, "ended by signal 11"),
    ]
    for name, args, env, reason in cases:
        out_dir = os.path.join(work, "refused")
        code, out, err = run(SIGN, *args, "--out", out_dir, env=env)
        check(f"{name}: one line, exit code 1", code == 1 and len(err.splitlines()) == 1 and reason in err,
              (code, err))
        check(f"{name}: no files", not os.path.exists(out_dir) and out == "", os.path.exists(out_dir))
        check(f"{name}: no password or PIN in what is said", "throwaway-" not in out + err and pin not in out + err)
        print(f"refused, {name}: {err.strip()}")


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


# The key of the PKI's leaf, which signs the release the alterations start from (its PKCS#12 file).
GENUINE_KEY = ("PKI/leaf.key", "PKI/chain.pem")
ATTACKER_KEY = ("PKI/attacker.key", "PKI/attacker-chain.pem")


def republish(folder, key=GENUINE_KEY, pki=None):
    """What an attacker does after changing a program or a signature: the signed zips, their signed SBOMs, the
    provenance and SHA256SUMS anew, signed with the key that signed the programs (the genuine one when the
    attacker only changed what it had)."""
    pki = pki or os.path.join(os.path.dirname(folder), "pki")
    signer = release_key.SigningKey("key", *(path.replace("PKI", pki) for path in key))
    seal = sbom.jsf_seal(signer.sign, signer.certificates_der())
    for arch in ARCHES:
        try:
            release_zip.signed(os.path.join(ROOT, "dist", release_description.zip_name(arch, False)),
                               os.path.join(folder, f"windows-{arch}"),
                               os.path.join(folder, release_description.zip_name(arch, True)), seal)
        except ValueError:
            pass  # a signature the zip code cannot read either
    write_provenance(folder, signer)
    release_zip.write_sums(folder)


def write_provenance(folder, signer):
    statement = provenance.statement(folder, os.path.join(ROOT, "dist"))
    with open(os.path.join(folder, release_description.PROVENANCE), "wb") as f:
        f.write(provenance.envelope(provenance.payload(statement), provenance.keyid(signer.certificates_der()[0]),
                                    signer.sign))


def resign(folder, pki, *signings, arches=ARCHES):
    """Every program (of the architectures given) signed anew: each step is (osslsigncode command, credentials),
    on the last step's output; the zips are published anew with the last signing key given."""
    keys = [(options[options.index("-key") + 1], options[options.index("-certs") + 1])
            for _, options in signings if "-key" in options]
    for arch in arches:
        for name in PROGRAMS:
            program = os.path.join(folder, f"windows-{arch}", name)
            current = os.path.join(ROOT, "dist", f"windows-{arch}", name)
            for i, (command, options) in enumerate(signings):
                out = f"{folder}-step{i}.exe"
                if os.path.exists(out):
                    os.remove(out)
                # 2.9, whose built-in authority makes time stamps at any time
                subprocess.run([OSSLSIGNCODE["2.9"], *command, *[o.replace("PKI", pki) for o in options], "-in",
                                current, "-out", out], stdout=subprocess.DEVNULL, check=True)
                current = out
            os.replace(current, program)
            subprocess.run([os.path.join(ROOT, "scripts", "pe_signature.py"), "extract", program, program + ".sig"],
                           check=True)
    republish(folder, keys[-1] if keys else GENUINE_KEY, pki)


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


def unsigned_sbom(inside):
    """The x64 CycloneDX document without its signature, beside the zip or in it."""
    def drop(data):
        document = json.loads(data)
        del document["signature"]
        return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()

    def alter(folder, _):
        name = release_description.sbom_names("x64")[1]
        if inside:
            rewrite_signed_zip(folder, name, drop)
        else:
            with open(os.path.join(folder, name), "rb") as f:
                data = drop(f.read())
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        release_zip.write_sums(folder)
    return alter


def flipped_sbom_signature(folder, _):
    """The x64 CycloneDX document beside the zip with one bit of its signature's value flipped."""
    path = os.path.join(folder, release_description.sbom_names("x64")[1])
    with open(path) as f:
        document = json.load(f)
    value = document["signature"]["value"]
    document["signature"]["value"] = ("B" if value[0] == "A" else "A") + value[1:]
    with open(path, "w") as f:
        f.write(json.dumps(document, indent=2, ensure_ascii=False) + "\n")
    release_zip.write_sums(folder)


def changed_provenance(change, key=None):
    """The provenance's statement changed; signed anew with key (PKI paths) when given, else with its old
    signature kept."""
    def alter(folder, pki):
        path = os.path.join(folder, release_description.PROVENANCE)
        with open(path, "rb") as f:
            envelope = json.loads(f.read())
        statement = change(json.loads(base64.b64decode(envelope["payload"])))
        body = json.dumps(statement, sort_keys=True, separators=(",", ":")).encode()
        if key:
            signer = release_key.SigningKey("key", *(p.replace("PKI", pki) for p in key))
            line = provenance.envelope(body, "sha256:0", signer.sign)
        else:
            line = (json.dumps(dict(envelope, payload=base64.b64encode(body).decode())) + "\n").encode()
        with open(path, "wb") as f:
            f.write(line)
        release_zip.write_sums(folder)
    return alter


def set_commit(statement):
    statement["predicate"]["buildDefinition"]["externalParameters"]["commit"] = "0" * 40
    return statement


def drop_last_subject(statement):
    statement["subject"] = statement["subject"][:-1]
    return statement


def missing_provenance(folder, _):
    """No provenance, and no line for it in SHA256SUMS."""
    os.remove(os.path.join(folder, release_description.PROVENANCE))
    with open(os.path.join(folder, "SHA256SUMS")) as f:
        kept = [line for line in f if not line.rstrip("\n").endswith(release_description.PROVENANCE)]
    with open(os.path.join(folder, "SHA256SUMS"), "w") as f:
        f.writelines(kept)


CONTROL_NAME = "\x1b[32mok\x07"  # a name that would recolour the terminal and ring its bell


def control_bytes_name(folder, _):
    with open(os.path.join(folder, "windows-x64", CONTROL_NAME), "w") as f:
        f.write("")


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
     "FAIL  korvel-1.0.0-windows-x86.zip: is not a zip that can be read"),
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
    ("the CycloneDX document beside the x64 zip unsigned", unsigned_sbom(False), "both",
     f"FAIL  korvel-{VERSION}-windows-x64.cdx.json: carries no signature of the publisher"),
    ("the CycloneDX document in the x64 zip unsigned", unsigned_sbom(True), "both",
     f"FAIL  korvel-{VERSION}-windows-x64.zip: korvel-{VERSION}-windows-x64.cdx.json: carries no signature of the "
     "publisher"),
    ("a CycloneDX signature with one bit flipped", flipped_sbom_signature, "both",
     f"FAIL  korvel-{VERSION}-windows-x64.cdx.json: carries a signature that does not verify under the signing "
     "certificate"),
    ("the provenance missing, its sum dropped", missing_provenance, "plain",
     f"korvel-{VERSION}.intoto.jsonl: is missing"),
    ("the provenance naming another commit, its old signature kept", changed_provenance(set_commit), "both",
     f"FAIL  korvel-{VERSION}.intoto.jsonl: carries a signature that does not verify under the signing certificate"),
    ("the provenance naming another commit, signed anew by the publisher",
     changed_provenance(set_commit, GENUINE_KEY), "both",
     f"FAIL  korvel-{VERSION}.intoto.jsonl: names the commit {'0' * 40}, not the rebuild's"),
    ("the provenance without arm64's zip, signed anew by the publisher",
     changed_provenance(drop_last_subject, GENUINE_KEY), "both",
     f"FAIL  korvel-{VERSION}.intoto.jsonl: has no subject korvel-{VERSION}-windows-arm64.zip"),
    ("the provenance signed anew by an attacker", changed_provenance(lambda s: s, ATTACKER_KEY), "both",
     f"FAIL  korvel-{VERSION}.intoto.jsonl: carries a signature that does not verify under the signing certificate"),
    ("a file named with terminal controls", control_bytes_name, "plain",
     "windows-x64/\\x1B[32mok\\x07: is not a file of the release"),
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
    for what, how, refusing, line in ALTERATIONS + TIME_STAMPS:
        for ca in (True, False) if refusing != "plain" else (False,):
            code, out, err = verify_copy(pki, release, work, how, ca)
            said = out + err
            if ca or refusing != "ca":
                check(f"refused{' with --ca' if ca else ''}: {what}", code == 1 and line in said, (code, said[-2000:]))
            else:  # what only a CA can tell is passed, and said to be unchecked
                check(f"without --ca, not called the publisher's: {what}",
                      code == 0 and "no certificate chain was checked" in out.splitlines()[-1], (code, said[-2000:]))
            # A release is untrusted input: nothing of it moves the cursor or recolours the verdict.
            check(f"no control byte in what is said: {what}", not re.search(r"[\x00-\x09\x0b-\x1f\x7f]", said),
                  repr(said[-300:]))
    code, out, err = verify_copy(pki, release, work, lambda f, p: resign(f, p, GENUINE, stamp("tsa")), True)
    check("a time stamp of the CA's authority verifies", code == 0, out + err)


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
        os.environ["SOFTHSM2_CONF"] = os.path.join(pki, "token", "softhsm2.conf")
        both_osslsigncodes()
        release = signing(pki, work)
        tsa = TimeStampAuthority(pki)
        try:
            token_release = token_signing(pki, work, tsa)
        finally:
            tsa.close()
        for signed, leaf in ((release, f"{pki}/leaf.pem"), (token_release, f"{pki}/token-leaf.pem")):
            sbom_signatures_hold(signed, leaf)
            provenance_holds(signed, leaf)
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
