#!/usr/bin/python3
"""The publisher's signing key, however it is held: a key file (maybe
encrypted), a PKCS#12 file, or a key on a PKCS#11 token (a USB token, an HSM,
a cloud key service's PKCS#11 library) through Debian's PKCS#11 engine for
OpenSSL. Every use goes through openssl, which reads a password or PIN from
its file itself: none ever stands on a command line.

sign-release.sh hands the key to the Python steps in the environment (paths
and a URI; no secret):
  KORVEL_SIGNING_KEY_KIND   key, pkcs12 or pkcs11
  KORVEL_SIGNING_KEY        the key file, the PKCS#12 file or the PKCS#11 URI
  KORVEL_SIGNING_CERTS      the chain in PEM, signing certificate first (not for PKCS#12)
  KORVEL_SIGNING_PASSWORD   the file of the password or PIN, when there is one
  KORVEL_SIGNING_MODULE     the PKCS#11 module
Usage: release_key.py check
  Signs a challenge with the key and verifies it with the certificate, and
  checks that the certificate allows code signing; else one line on stderr
  and exit code 1."""
import ctypes
import os
import re
import subprocess
import sys
import tempfile

KINDS = ("key", "pkcs12", "pkcs11")


class Refused(Exception):
    """What stops the key from signing, in one line."""


def pem_certificates(text):
    return re.findall(r"-----BEGIN CERTIFICATE-----.+?-----END CERTIFICATE-----\n?", text, re.S)


class SigningKey:
    def __init__(self, kind, source, certs=None, password=None, module=None):
        if kind not in KINDS:
            raise Refused(f"no key of kind {kind!r}")
        self.kind, self.source, self.certs, self.password, self.module = kind, source, certs, password, module

    @classmethod
    def from_environment(cls):
        env = os.environ
        return cls(env.get("KORVEL_SIGNING_KEY_KIND", ""), env.get("KORVEL_SIGNING_KEY", ""),
                   env.get("KORVEL_SIGNING_CERTS") or None, env.get("KORVEL_SIGNING_PASSWORD") or None,
                   env.get("KORVEL_SIGNING_MODULE") or None)

    def _passin(self):
        # No password file: an empty password, so that openssl never waits at a prompt.
        return ["-passin", f"file:{self.password}" if self.password else "pass:"]

    def _openssl(self, args, what, data=None):
        """openssl's output; Refused with one line when it fails or crashes."""
        env = dict(os.environ)
        if self.kind == "pkcs11":
            env["PKCS11_MODULE_PATH"] = self.module
        try:
            result = subprocess.run(["openssl", *args], input=data, stdin=None if data is not None else subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=120)
        except subprocess.TimeoutExpired:
            raise Refused(f"{what}: openssl did not answer within 120 s") from None
        if result.returncode != 0:
            raise Refused(self._reason(result, what))
        return result.stdout

    def _reason(self, result, what):
        err = result.stderr.decode("utf-8", "replace")
        if self.kind == "pkcs11":
            for pattern, line in (("Unable to load module", f"the PKCS#11 module {self.module} does not load"),
                                  ("PIN incorrect|Login failed|PIN invalid|PIN len", "the token refused the PIN"),
                                  ("PIN locked", "the token has locked its PIN"),
                                  ("No matching initialized token", f"{self.source} names no token of the module"),
                                  ("private key was not found|object not found", f"{self.source} names no key on the token")):
                if re.search(pattern, err):
                    return line
        elif self.kind == "pkcs12" and "pkcs12" in what:
            return f"cannot open {self.source}: wrong password or not a PKCS#12 file"
        elif self.kind == "key" and "key" in what:
            return f"cannot open {self.source}: wrong password or not a private key"
        if result.returncode < 0:
            return f"{what}: openssl ended by signal {-result.returncode}"
        last = [line for line in err.splitlines() if line.strip()]
        return f"{what}: {last[-1] if last else f'openssl failed with exit code {result.returncode}'}"

    def certificates(self):
        """The chain in PEM, signing certificate first."""
        if self.kind == "pkcs12":
            leaf = self._openssl(["pkcs12", "-in", self.source, "-nokeys", "-clcerts", *self._passin()], "the pkcs12 file")
            chain = self._openssl(["pkcs12", "-in", self.source, "-nokeys", "-cacerts", *self._passin()], "the pkcs12 file")
            found = pem_certificates(leaf.decode()) + pem_certificates(chain.decode())
        else:
            try:
                with open(self.certs) as f:
                    found = pem_certificates(f.read())
            except (OSError, TypeError, UnicodeDecodeError):
                found = []
        if not found:
            raise Refused(f"{self.certs or self.source} holds no certificate")
        return found

    def certificates_der(self):
        return [self._openssl(["x509", "-outform", "DER"], "the signing certificate", pem.encode())
                for pem in self.certificates()]

    def sign(self, data):
        """RSASSA-PKCS1-v1_5 with SHA-256 (RS256) over data."""
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "data")
            with open(path, "wb") as f:
                f.write(data)
            if self.kind == "pkcs11":
                return self._openssl(["dgst", "-sha256", "-engine", "pkcs11", "-keyform", "engine", "-sign", self.source,
                                      *self._passin(), path], "the token's key")
            if self.kind == "key":
                return self._openssl(["dgst", "-sha256", "-sign", self.source, *self._passin(), path], "the key")
            # The PKCS#12 file's key goes to openssl on a pipe, never to a file.
            key = self._openssl(["pkcs12", "-in", self.source, "-nocerts", "-nodes", *self._passin()], "the pkcs12 file")
            return self._openssl(["dgst", "-sha256", "-sign", "/dev/stdin", path], "the pkcs12 file's key", key)

    def check(self):
        """Refused unless the key signs as the certificate's, which allows code signing."""
        if self.kind == "pkcs11":
            module_loads(self.module)
        leaf = self.certificates()[0].encode()
        usage = self._openssl(["x509", "-noout", "-ext", "extendedKeyUsage"], "the signing certificate", leaf)
        if b"Code Signing" not in usage:
            raise Refused("the signing certificate does not allow code signing (no Code Signing extended key usage)")
        challenge = b"korvel release signing check\n"
        signature = self.sign(challenge)
        with tempfile.TemporaryDirectory() as work:
            files = {}
            for name, data in (("leaf.pem", leaf), ("signature", signature), ("challenge", challenge)):
                files[name] = os.path.join(work, name)
                with open(files[name], "wb") as f:
                    f.write(data)
            public = self._openssl(["x509", "-in", files["leaf.pem"], "-noout", "-pubkey"], "the signing certificate")
            files["public.pem"] = os.path.join(work, "public.pem")
            with open(files["public.pem"], "wb") as f:
                f.write(public)
            verified = subprocess.run(["openssl", "dgst", "-sha256", "-verify", files["public.pem"], "-signature",
                                       files["signature"], files["challenge"]], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode == 0
        if not verified:
            raise Refused("the key does not belong to the signing certificate")


def module_loads(module):
    """A PKCS#11 module is a library that exports C_GetFunctionList."""
    try:
        library = ctypes.CDLL(module or "")
        library.C_GetFunctionList  # noqa: B018 (the lookup is the check)
    except (OSError, AttributeError):
        raise Refused(f"the PKCS#11 module {module} does not load") from None


def main(argv):
    if argv[1:] != ["check"]:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        SigningKey.from_environment().check()
    except Refused as refusal:
        print(refusal, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
