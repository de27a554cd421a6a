"""Whether a signature's RFC 3161 time stamp counts, judged at the stamp's own
time, as Windows judges it: the stamp's time lies within the validity of the
signing certificate and of each certificate of its chain, and within that of
the time-stamping authority's certificate and its chain; and the authority's
certificate carries the time-stamping key usage, marked critical.

The chains are built from the certificates the signature and the token carry,
and from a CA file's when one is given. Whether the token's own signature and
message imprint hold is openssl's part (verify_release.py)."""
import base64
import datetime
import re

from authenticode import Der, Malformed, oid, parse_der

TST_INFO = "1.2.840.113549.1.9.16.1.4"
EXTENDED_KEY_USAGE = "2.5.29.37"
SUBJECT_KEY_IDENTIFIER = "2.5.29.14"
TIME_STAMPING = "1.3.6.1.5.5.7.3.8"
COMMON_NAME = "2.5.4.3"
MAX_CHAIN = 8


def der_time(node):
    """A UTCTime or GeneralizedTime, in UTC."""
    text = node.value.decode("ascii", "replace")
    if node.tag == 0x17 and re.fullmatch(r"\d{12}Z", text):
        year = int(text[:2])
        text = str(1900 + year if year >= 50 else 2000 + year) + text[2:]
    elif node.tag != 0x18 or not re.fullmatch(r"\d{14}(\.\d+)?Z", text):
        raise Malformed("a time that is neither UTCTime nor GeneralizedTime")
    return datetime.datetime.strptime(text[:14], "%Y%m%d%H%M%S").replace(tzinfo=datetime.timezone.utc)


def shown_time(when):
    return when.strftime("%Y-%m-%d %H:%M:%S UTC")


class Certificate:
    """What the checks need of one DER certificate."""

    def __init__(self, encoding):
        self.encoding = encoding
        tbs = Der(encoding).expect(0x30, "certificate").children()[0].expect(0x30, "TBSCertificate").children()
        offset = 1 if tbs[0].tag == 0xA0 else 0
        self.serial, self.issuer, validity, self.subject = (tbs[offset].encoding, tbs[offset + 2].encoding,
                                                            tbs[offset + 3], tbs[offset + 4].encoding)
        self.not_before, self.not_after = (der_time(t) for t in validity.expect(0x30, "validity").children())
        self.name = self._common_name(tbs[offset + 4])
        self.extensions = {}
        for field in tbs[offset + 6:]:
            if field.tag == 0xA3:
                for extension in field.children()[0].children():
                    parts = extension.children()
                    critical = len(parts) == 3 and parts[1].value == b"\xff"
                    self.extensions[oid(parts[0])] = (critical, Der(parts[-1].value))

    @staticmethod
    def _common_name(name):
        for relative in name.children():
            for pair in relative.children():
                kind, value = pair.children()
                if oid(kind) == COMMON_NAME:
                    return "CN=" + value.value.decode("utf-8", "replace")
        return "a certificate with no common name"

    def time_stamping_usage(self):
        """(carries the usage, marked critical)"""
        critical, value = self.extensions.get(EXTENDED_KEY_USAGE, (False, None))
        usages = {oid(u) for u in value.children()} if value is not None else set()
        return TIME_STAMPING in usages, critical

    def identified_by(self, signer_identifier):
        """A SignerInfo's sid names this certificate: by issuer and serial number, or by key identifier."""
        if signer_identifier.tag == 0x30:
            return signer_identifier.value == self.issuer + self.serial
        key = self.extensions.get(SUBJECT_KEY_IDENTIFIER)
        return signer_identifier.tag == 0x80 and key is not None and key[1].value == signer_identifier.value

    def validity(self):
        return f"{shown_time(self.not_before)} to {shown_time(self.not_after)}"


def pem_file_certificates(path):
    """The certificates of a PEM file; none without a file."""
    if not path:
        return []
    with open(path, errors="replace") as f:
        return [Certificate(base64.b64decode(block)) for block in
                re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", f.read(), re.S)]


def chain(leaf, pool):
    """leaf, its issuer, and so on, as far as the pool reaches."""
    found = [leaf]
    while found[-1].issuer != found[-1].subject and len(found) < MAX_CHAIN:
        issuer = next((c for c in pool if c.subject == found[-1].issuer), None)
        if issuer is None:
            break
        found.append(issuer)
    return found


class Token:
    """An RFC 3161 time-stamp token: its time, its certificates and its authority's certificate."""

    def __init__(self, encoding):
        _, wrapped = parse_der(encoding).children()
        fields = wrapped.expect(0xA0, "token content").children()[0].expect(0x30, "token SignedData").children()
        content = fields[2].expect(0x30, "token content info").children()
        if oid(content[0]) != TST_INFO:
            raise Malformed("a time stamp whose content is no TSTInfo")
        info = Der(content[1].expect(0xA0, "TSTInfo").children()[0].expect(0x04, "TSTInfo").value).children()
        self.time = der_time(info[4])
        self.certificates = ([Certificate(c.encoding) for c in fields[3].children()]
                             if fields[3].tag == 0xA0 else [])
        signer = fields[-1].expect(0x31, "token signer infos").children()[0].children()[1]
        self.authority = next((c for c in self.certificates if c.identified_by(signer)), None)
        if self.authority is None:
            raise Malformed("a time stamp that carries no certificate of its authority")


def outside(when, certificates):
    """The first certificate whose validity does not hold at the time, or None."""
    return next((c for c in certificates if not c.not_before <= when <= c.not_after), None)


def problem(token, signer_der, carried_der, ca_certificates=(), tsa_ca_certificates=()):
    """Why the Token's stamp does not count at its own time, as one line; None when it does. The
    signer's chain is built from the DER certificates the signature carries and the CA's, the
    authority's from the token's and the time-stamping CA's."""
    signer_pool = [Certificate(c) for c in carried_der] + list(ca_certificates)
    authority_pool = token.certificates + list(tsa_ca_certificates)
    for who, certificates in (("the signing certificate's chain", chain(Certificate(signer_der), signer_pool)),
                              ("the time-stamping authority's chain", chain(token.authority, authority_pool))):
        late = outside(token.time, certificates)
        if late is not None:
            return (f"carries a time stamp of {shown_time(token.time)}, outside the validity of {late.name} "
                    f"({late.validity()}) in {who}")
    usage, critical = token.authority.time_stamping_usage()
    if not (usage and critical):
        return (f"carries a time stamp whose authority {token.authority.name} has "
                f"{'no' if not usage else 'a non-critical'} time-stamping key usage")
    return None
