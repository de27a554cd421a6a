#!/usr/bin/python3
"""Proves that a signed release folder is exactly what sign-release.sh makes
from the build in dist/ and one publisher's key, trusting nothing the
release says about itself:

- the folder holds exactly the files of a release as release.conf names them, each a
  regular file in a real folder, and SHA256SUMS lists exactly those with
  their sums, as sign-release.sh writes it;
- each NAME.exe.sig is one PKCS#7 SignedData with one SignerInfo, no nested
  signature and no unauthenticated attribute but an RFC 3161 time stamp; it
  covers the Authenticode digest of dist/NAME.exe and verifies under the
  certificate it carries, and one certificate signs every program;
- dist/NAME.exe with that signature attached is the published NAME.exe, and
  the signed zips and their SBOMs rebuilt from dist/ and the signatures are
  the published ones;
- a time stamp counts only at its own time: it lies within the validity of
  every certificate of the signer's chain and of its authority's chain, and
  the authority's certificate carries the critical time-stamping usage
  (time_stamp_check.py), with or without a CA;
- each CycloneDX document, beside its zip and in it, carries the publisher's
  JSF signature (RS256 over its JSON canonical form), made with the
  certificate that signs the programs;
- NAME-VERSION.intoto.jsonl is one DSSE envelope signed with that
  certificate, whose in-toto statement (SLSA provenance v1) is the one the
  rebuild gives: the zips with their SHA-256, the rebuild's commit and
  version, the pins of BUILDINFO;
- with --ca, each program's certificate chain and any time stamp verify
  against that CA (time stamps against --tsa-ca when given).

Usage: verify-release.sh DIR [--ca FILE] [--tsa-ca FILE]
One line per file; exit code 0 only when everything holds. A release that
cannot be read as one gets one line on stderr and exit code 1."""
import base64
import binascii
import functools
import hashlib
import io
import json
import os
import re
import stat
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import authenticode  # noqa: E402
import checksums  # noqa: E402
import pe_signature  # noqa: E402
import provenance  # noqa: E402
import release_description  # noqa: E402
import release_zip  # noqa: E402
import sbom  # noqa: E402
import time_stamp_check  # noqa: E402

NAME = "verify-release.sh"
MAX_FILE = 64 << 20  # far above any file of a release
MAX_SIGNATURE = 1 << 20
MAX_SUMS = 64 << 10
MAX_PROVENANCE = 1 << 20
SUM_LINE = re.compile(r"([0-9a-f]{64})  ([A-Za-z0-9._/-]{1,200})")


class Refused(Exception):
    pass


def shown(text):
    """Printable ASCII as it is, every other byte \\xNN; at most 200 characters."""
    raw = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else text
    out = "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else f"\\x{b:02X}" for b in raw)
    return out if len(out) <= 200 else out[:200] + "..."


class Release:
    """The release folder, opened once; every file is opened below it without following a link."""

    def __init__(self, path):
        self.path = path
        try:
            self.fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        except OSError:
            raise Refused(f"{shown(path)} is not a folder") from None

    def where(self, name):
        return shown(os.path.join(self.path, name))

    def _open(self, name, flags):
        *folders, leaf = name.split("/")
        fd = os.dup(self.fd)
        try:
            for folder in folders:
                inner = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=fd)
                os.close(fd)
                fd = inner
            return os.open(leaf, flags | os.O_NOFOLLOW | os.O_CLOEXEC | os.O_NONBLOCK, dir_fd=fd)
        finally:
            os.close(fd)

    def read(self, name, limit):
        try:
            fd = self._open(name, os.O_RDONLY)
        except OSError as error:
            raise Refused(f"{self.where(name)}: cannot be opened as a file ({error.strerror})") from None
        with os.fdopen(fd, "rb") as f:
            info = os.fstat(f.fileno())
            if not stat.S_ISREG(info.st_mode):
                raise Refused(f"{self.where(name)}: is not a regular file")
            data = f.read(limit + 1)
        if len(data) > limit:
            raise Refused(f"{self.where(name)}: is larger than any file of a release")
        return data

    def check_shape(self):
        """Exactly the files and folders of a release, nothing else at any depth."""
        files, folders = set(release_description.release_files()), set(release_description.release_folders())
        seen = set()

        def walk(folder):
            with os.scandir(os.path.join(self.path, folder)) as entries:
                for entry in entries:
                    name = f"{folder}/{entry.name}" if folder else entry.name
                    mode = entry.stat(follow_symlinks=False).st_mode
                    if stat.S_ISLNK(mode):
                        raise Refused(f"{self.where(name)}: is a symbolic link; a release holds none")
                    if name in folders and stat.S_ISDIR(mode):
                        walk(name)
                    elif name in files and stat.S_ISREG(mode):
                        seen.add(name)
                    elif name in files or name in folders:
                        raise Refused(f"{self.where(name)}: is not a regular {'file' if name in files else 'folder'}")
                    else:
                        raise Refused(f"{self.where(name)}: is not a file of the release")
        walk("")
        for name in release_description.release_files():
            if name not in seen:
                raise Refused(f"{self.where(name)}: is missing")


def listed_sums(release):
    """name -> sum of SHA256SUMS, whose every name must be one of the release's other files."""
    data = release.read(release_description.SUMS, MAX_SUMS)
    where = release.where(release_description.SUMS)
    others = release_description.release_files()[:-1]
    if not data.endswith(b"\n"):
        raise Refused(f"{where}: does not end with a line break")
    listed = {}
    for number, line in enumerate(data[:-1].split(b"\n"), 1):
        found = SUM_LINE.fullmatch(line.decode("ascii", "replace"))
        if not found:
            raise Refused(f"{where}: line {number} is not a SHA-256 sum, two spaces and a file name")
        if found[2] not in others:
            raise Refused(f"{where}: line {number} names {found[2]}, which is not a file of the release")
        if found[2] in listed:
            raise Refused(f"{where}: line {number} names {found[2]} a second time")
        listed[found[2]] = found[1]
    missing = [name for name in others if name not in listed]
    if missing:
        raise Refused(f"{where}: lists no sum for {missing[0]}")
    return listed, data


class Verifier:
    def __init__(self, release, ca, tsa_ca, work):
        self.release, self.ca, self.tsa_ca, self.work = release, ca, tsa_ca or ca, work
        self.failures = 0
        self.signers = {}  # program -> certificate fingerprint
        self.signer_der = None  # the certificate that signs the programs, in DER
        self.rebuilt_zips = 0

    @functools.cached_property
    def stamp_trust(self):
        """The certificates of the CA file and of the time-stamping CA file, read once, for the chains a
        time stamp is judged against."""
        return tuple(time_stamp_check.pem_file_certificates(path) for path in (self.ca, self.tsa_ca))

    def report(self, holds, name, what):
        print(f"{'ok  ' if holds else 'FAIL'}  {name}: {what}")
        self.failures += 0 if holds else 1

    def openssl(self, *args):
        return subprocess.run(["openssl", *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0

    def scratch(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def signature_problem(self, signature, signed, published_path):
        """Why the signature is not the publisher's one well-formed signature of the file, or None."""
        if pe_signature.authenticode_digest(signed, signature.digest) != signature.file_digest:
            return "does not cover the Authenticode digest of the program"
        problem = signature.consistency()
        if problem:
            return problem
        certificate = self.scratch("signer.der", signature.signer_certificate())
        public = os.path.join(self.work, "signer.pub")
        if not (self.openssl("x509", "-inform", "DER", "-in", certificate, "-noout", "-pubkey", "-out", public) and
                self.openssl("dgst", f"-{signature.digest}", "-verify", public, "-signature",
                             self.scratch("signature.bin", signature.signature_value),
                             self.scratch("attributes.der", signature.signed_attributes))):
            return "does not verify under the certificate it carries"
        if signature.time_stamp:
            try:
                token = time_stamp_check.Token(signature.time_stamp)
                late = time_stamp_check.problem(token, signature.signer_certificate(), signature.certificates,
                                                *self.stamp_trust)
            except (IndexError, ValueError) as error:
                return f"carries a time stamp that cannot be read ({shown(str(error))})"
            if late:
                return late
            if not self.time_stamp_holds(signature, token.time):
                return "carries a time stamp that does not verify" + (
                    f" against {shown(self.tsa_ca)}" if self.tsa_ca else " under the certificate it carries")
        if self.ca:
            command = ["osslsigncode", "verify", "-CAfile", self.ca, "-in", published_path]
            if signature.time_stamp:
                command[4:4] = ["-TSA-CAfile", self.tsa_ca]
            if subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=60).returncode != 0:
                return f"its certificate chain does not verify against {shown(self.ca)}"
        return None

    def time_stamp_holds(self, signature, when):
        """The token time-stamps this signature's value, its chain judged at the stamp's time (when); without
        a CA, under the token's own certificate."""
        token = self.scratch("token.der", signature.time_stamp)
        trust = self.tsa_ca
        extra = []
        if not trust:
            trust = os.path.join(self.work, "tsa.pem")
            if not self.openssl("pkcs7", "-inform", "DER", "-in", token, "-print_certs", "-out", trust):
                return False
            extra = ["-partial_chain"]
        return self.openssl("ts", "-verify", "-token_in", "-in", token, "-data",
                            self.scratch("stamped.bin", signature.signature_value), "-CAfile", trust, *extra,
                            "-attime", str(int(when.timestamp())))

    def program(self, arch, program):
        """Checks one program and its signature; returns the signed file and the signature, or None."""
        name = f"{release_description.build_folder(arch)}/{program}"
        dist = os.path.join(ROOT, "dist", name)
        if not os.path.isfile(dist):
            raise Refused(f"dist/{name} is missing: run ./build.sh first")
        with open(dist, "rb") as f:
            unsigned = f.read()
        sig = self.release.read(name + ".sig", MAX_SIGNATURE)
        try:
            signature = authenticode.read_signature(sig)
            signed = pe_signature.attach(unsigned, sig)
            self.signers[name] = authenticode.fingerprint(signature.signer_certificate())
        except ValueError as error:
            self.report(False, name + ".sig", shown(str(error)))
            return None
        if signed != self.release.read(name, MAX_FILE):
            self.report(False, name, f"is not dist/{name} with the published {name}.sig")
            return None
        problem = self.signature_problem(signature, signed, self.scratch("published.exe", signed))
        if problem:
            self.report(False, name + ".sig", problem)
            return None
        first = next(iter(self.signers.items()))
        if self.signers[name] != first[1]:
            self.report(False, name + ".sig", f"is made with another certificate than {first[0]}.sig")
            return None
        self.signer_der = self.signer_der or signature.signer_certificate()
        self.report(True, name, f"dist/{name} with its one signature, which covers it and verifies"
                    f"{' against ' + shown(self.ca) if self.ca else ' under the certificate it carries'}")
        return signed, sig

    @functools.cached_property
    def signer_public_key(self):
        """The public key of the programs' signing certificate in a file, made once (None when openssl cannot
        read the certificate); the programs are checked first."""
        public = os.path.join(self.work, "signer.pub")
        return public if self.openssl("x509", "-inform", "DER", "-in", self.scratch("signer.der", self.signer_der),
                                      "-noout", "-pubkey", "-out", public) else None

    def verifies(self, signature, data):
        """An RS256 signature over data verifies under the programs' signing certificate."""
        return self.signer_public_key is not None and self.openssl(
            "dgst", "-sha256", "-verify", self.signer_public_key, "-signature", self.scratch("signed.sig", signature),
            self.scratch("signed.bin", data))

    def sbom_signature(self, name, data):
        """The publisher's JSF signature of a CycloneDX document, when it is there and verifies; else a FAIL
        line naming the document and None."""
        try:
            document = json.loads(data)
            signature = document.get("signature") if isinstance(document, dict) else None
        except ValueError:
            signature = None
        if not isinstance(signature, dict) or "value" not in signature:
            self.report(False, name, "carries no signature of the publisher")
            return None
        try:
            path = signature["certificatePath"]
            first = base64.b64decode(path[0], validate=True)
            value = base64.urlsafe_b64decode(signature["value"] + "=" * (-len(signature["value"]) % 4))
            content = sbom.signed_content(document)
        except (KeyError, IndexError, TypeError, ValueError, binascii.Error):
            self.report(False, name, "carries a signature that is not one JSF signature with its certificate path")
            return None
        if signature.get("algorithm") != sbom.JSF_ALGORITHM or first != self.signer_der:
            self.report(False, name, f"is not signed {sbom.JSF_ALGORITHM} with the certificate that signs the programs")
            return None
        if not self.verifies(value, content):
            self.report(False, name, "carries a signature that does not verify under the signing certificate")
            return None
        return signature

    def zip(self, arch, programs):
        name = release_description.zip_name(arch, True)
        if programs is None:
            self.report(False, name, "not rebuilt: a program of it did not verify")
            return
        cyclonedx = release_description.sbom_names(arch)[1]
        beside = self.sbom_signature(cyclonedx, self.release.read(cyclonedx, MAX_FILE))
        try:
            inside = zip_member(self.release.read(name, MAX_FILE), cyclonedx)
        except (ValueError, KeyError, zipfile.BadZipFile):
            return self.report(False, name, "is not a zip that can be read")
        if inside is None:
            return self.report(False, name, f"holds no {cyclonedx}")
        if not self.sbom_signature(f"{name}: {cyclonedx}", inside) or not beside:
            return
        folder = os.path.join(self.work, release_description.build_folder(arch))
        os.makedirs(folder)
        for program, (signed, sig) in programs.items():
            self.scratch(f"{release_description.build_folder(arch)}/{program}", signed)
            self.scratch(f"{release_description.build_folder(arch)}/{program}.sig", sig)
        release_zip.signed(os.path.join(ROOT, "dist", release_description.zip_name(arch, False)), folder,
                           os.path.join(self.work, name), lambda document: beside)
        all_same = True
        for published in [name] + release_description.sbom_names(arch):
            with open(os.path.join(self.work, published), "rb") as f:
                same = f.read() == self.release.read(published, MAX_FILE)
            self.report(same, published, f"rebuilt from dist/ and the signatures, it "
                        f"{'is the same' if same else 'differs'}")
            all_same &= same
        self.rebuilt_zips += all_same

    def provenance(self):
        """The build provenance: one DSSE envelope signed by the programs' certificate, whose statement is
        the one the rebuild gives: the zips as subjects, the rebuild's commit, the pins of BUILDINFO."""
        name = release_description.PROVENANCE
        try:
            lines = self.release.read(name, MAX_PROVENANCE).split(b"\n")
            envelope = json.loads(lines[0])
            if lines[1:] != [b""] or set(envelope) != {"payload", "payloadType", "signatures"}:
                raise ValueError
            body = base64.b64decode(envelope["payload"], validate=True)
            signatures = envelope["signatures"]
            if not isinstance(signatures, list) or len(signatures) != 1:
                return self.report(False, name, f"holds {len(signatures)} signatures, not one")
            sig = base64.b64decode(signatures[0]["sig"], validate=True)
            statement = json.loads(body)
        except (ValueError, KeyError, TypeError, AttributeError, binascii.Error):
            return self.report(False, name, "is not one DSSE envelope of a JSON statement on one line")
        if envelope["payloadType"] != provenance.PAYLOAD_TYPE:
            return self.report(False, name, f"has the payload type {shown(str(envelope['payloadType']))}, "
                               f"not {provenance.PAYLOAD_TYPE}")
        pae = b"DSSEv1 %d %b %d %b" % (len(provenance.PAYLOAD_TYPE), provenance.PAYLOAD_TYPE.encode(), len(body), body)
        if not self.verifies(sig, pae):
            return self.report(False, name, "carries a signature that does not verify under the signing certificate")
        rebuilt = provenance.statement(self.release.path, os.path.join(ROOT, "dist"))
        published = {s.get("name"): s.get("digest") for s in statement.get("subject", []) if isinstance(s, dict)}
        for subject in rebuilt["subject"]:
            if published.get(subject["name"]) != subject["digest"]:
                return self.report(False, name, f"has no subject {subject['name']} with that zip's SHA-256")
        commit = rebuilt["predicate"]["buildDefinition"]["externalParameters"]["commit"]
        claimed = statement.get("predicate", {}).get("buildDefinition", {}).get("externalParameters", {}).get("commit")
        if claimed != commit:
            return self.report(False, name, f"names the commit {shown(str(claimed))}, not the rebuild's {commit}")
        if body != provenance.payload(rebuilt):
            return self.report(False, name, "is not the statement the rebuild gives (subjects, parameters, "
                               "dependencies and builder)")
        self.report(True, name, "the statement the rebuild gives, signed with the certificate that signs the programs")

    def sums(self, listed, data):
        for name, expected in listed.items():
            if hashlib.sha256(self.release.read(name, MAX_FILE)).hexdigest() != expected:
                self.report(False, "SHA256SUMS", f"the sum of {name} does not hold")
                return
        canonical = data == checksums.sums_text(sorted(listed.items()))
        self.report(canonical, "SHA256SUMS", "lists every other file of the release, and each sum holds"
                    if canonical else "is not in the form sign-release.sh writes")


def zip_member(data, name):
    """The bytes of the zip's member FOLDER/name (a release zip holds one folder)."""
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        found = [member for member in archive.namelist() if member.count("/") == 1 and member.endswith("/" + name)]
        return archive.read(found[0]) if len(found) == 1 else None


def arguments(argv):
    usage = f"usage: {NAME} DIR [--ca FILE] [--tsa-ca FILE]"
    if not argv or argv[0].startswith("--"):
        raise Refused(usage)
    release, options = argv[0], {}
    rest = argv[1:]
    while rest:
        if rest[0] not in ("--ca", "--tsa-ca") or len(rest) < 2 or rest[0] in options:
            raise Refused(usage)
        options[rest[0]] = os.path.abspath(rest[1])
        rest = rest[2:]
    for path in options.values():
        if not os.path.isfile(path) or not os.access(path, os.R_OK):
            raise Refused(f"cannot read {shown(path)}")
    return os.path.abspath(release), options.get("--ca"), options.get("--tsa-ca")


def verify(argv):
    path, ca, tsa_ca = arguments(argv)
    release = Release(path)
    release.check_shape()
    listed, sums = listed_sums(release)
    with tempfile.TemporaryDirectory() as work:
        verifier = Verifier(release, ca, tsa_ca, work)
        for arch in release_description.ARCHES:
            programs = {program: verifier.program(arch, program) for program in release_description.PROGRAMS}
            verifier.zip(arch, None if None in programs.values() else programs)
        if verifier.rebuilt_zips == len(release_description.ARCHES):
            verifier.provenance()
        else:
            verifier.report(False, release_description.PROVENANCE, "not checked: a zip of the release did not verify")
        verifier.sums(listed, sums)
    if verifier.failures:
        print(f"{NAME}: {verifier.failures} check(s) failed", file=sys.stderr)
        return 1
    signer = next(iter(verifier.signers.values()))
    if ca:
        print(f"{NAME}: {shown(path)} is the build in dist/, signed by the certificate {signer}, "
              f"whose chain verifies against {shown(ca)}")
    else:
        print(f"{NAME}: {shown(path)} is the build in dist/ with one well-formed signature per program, made with "
              f"the certificate {signer}; no certificate chain was checked (give --ca FILE to check the publisher)")
    return 0


def main(argv):
    try:
        return verify(argv)
    except Refused as refusal:
        print(f"{NAME}: {refusal}", file=sys.stderr)
    except (OSError, ValueError, subprocess.SubprocessError) as error:
        print(f"{NAME}: {shown(str(error))}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
