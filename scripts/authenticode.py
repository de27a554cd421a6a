"""An Authenticode signature (PKCS#7 SignedData, DER) read by hand, strictly:
definite, shortest-form lengths, nothing after the outer SEQUENCE, one
SignerInfo, and no unauthenticated attribute but an RFC 3161 time stamp.
Whatever it does not accept raises Malformed (a ValueError) with a reason."""
import hashlib

SIGNED_DATA = "1.2.840.113549.1.7.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
CONTENT_TYPE = "1.2.840.113549.1.9.3"
MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
# RFC 3161 time-stamp tokens: Microsoft's attribute, and the CMS one.
TIME_STAMPS = ("1.3.6.1.4.1.311.3.3.1", "1.2.840.113549.1.9.16.2.14")
DIGESTS = {"2.16.840.1.101.3.4.2.1": "sha256", "2.16.840.1.101.3.4.2.2": "sha384",
           "2.16.840.1.101.3.4.2.3": "sha512"}


class Malformed(ValueError):
    """A signature this reader refuses, with the reason."""


class Der:
    """One TLV: tag byte, the whole encoding, and where its value lies."""

    def __init__(self, data, at=0):
        if at + 2 > len(data):
            raise Malformed("DER cut short")
        self.tag = data[at]
        if self.tag & 0x1F == 0x1F:
            raise Malformed("DER tag of more than one byte")
        first = data[at + 1]
        start = at + 2
        if first < 0x80:
            length = first
        else:
            count = first & 0x7F
            if not 1 <= count <= 4 or start + count > len(data):
                raise Malformed("DER length not definite")
            length = int.from_bytes(data[start:start + count], "big")
            if length < 0x80 or data[start] == 0:
                raise Malformed("DER length not in its shortest form")
            start += count
        if start + length > len(data):
            raise Malformed("DER cut short")
        self.data, self.start, self.end = data, start, start + length
        self.encoding = data[at:self.end]
        self.value = data[start:self.end]

    def children(self):
        if not self.tag & 0x20:
            raise Malformed("DER primitive where a constructed value belongs")
        found, at = [], self.start
        while at < self.end:
            child = Der(self.data[:self.end], at)
            found.append(child)
            at = child.end
        return found

    def expect(self, tag, what):
        if self.tag != tag:
            raise Malformed(f"{what}: DER tag {self.tag:#04x}, not {tag:#04x}")
        return self


def oid(node):
    node.expect(0x06, "object identifier")
    value = node.value
    if not value or value[-1] & 0x80:
        raise Malformed("malformed object identifier")
    numbers, current = [], 0
    for byte in value:
        current = (current << 7) | (byte & 0x7F)
        if not byte & 0x80:
            numbers.append(current)
            current = 0
    first = min(numbers[0] // 40, 2)
    return ".".join(str(n) for n in [first, numbers[0] - 40 * first] + numbers[1:])


def parse_der(data):
    outer = Der(data)
    if outer.end != len(data):
        raise Malformed("bytes after the DER SEQUENCE")
    return outer.expect(0x30, "the signature")


def attributes(node):
    """[(oid, [values])] of a SET OF Attribute (any tag)."""
    found = []
    for attribute in node.children():
        oid_node, values = attribute.expect(0x30, "attribute").children()
        found.append((oid(oid_node), values.expect(0x31, "attribute values").children()))
    return found


class Signature:
    """What the checks need of one Authenticode SignedData."""

    def __init__(self, data):
        content_type, wrapped = parse_der(data).children()
        if oid(content_type) != SIGNED_DATA:
            raise Malformed("not a PKCS#7 SignedData")
        fields = wrapped.expect(0xA0, "content").children()[0].expect(0x30, "SignedData").children()
        _, algorithms, content, *rest = fields
        self.certificates = [c.encoding for c in rest[0].children()] if rest and rest[0].tag == 0xA0 else []
        signers = rest[-1].expect(0x31, "signer infos").children()
        if len(signers) != 1:
            raise Malformed(f"holds {len(signers)} signatures, not one")
        content_fields = content.expect(0x30, "content info").children()
        if oid(content_fields[0]) != SPC_INDIRECT_DATA or len(content_fields) != 2:
            raise Malformed("signs no Authenticode content")
        indirect = content_fields[1].expect(0xA0, "content").children()[0].expect(0x30, "SpcIndirectDataContent")
        self.indirect_value = indirect.value  # hashed without its tag and length
        digest_info = indirect.children()[1].children()
        self.digest = DIGESTS.get(oid(digest_info[0].children()[0]))
        self.file_digest = digest_info[1].expect(0x04, "file digest").value
        if self.digest is None or len(algorithms.children()) != 1:
            raise Malformed("uses a digest other than SHA-2")
        self._read_signer(signers[0])

    def _read_signer(self, signer):
        fields = signer.expect(0x30, "SignerInfo").children()
        issuer_serial = fields[1].expect(0x30, "signer identifier")
        self.issuer_serial = issuer_serial.value
        signed = fields[3].expect(0xA0, "signed attributes")
        # The signature covers the signed attributes as a SET.
        self.signed_attributes = b"\x31" + signed.encoding[1:]
        self.signed = dict((name, values) for name, values in attributes(signed))
        self.signature_value = fields[5].expect(0x04, "signature value").value
        self.time_stamp = None
        for name, values in attributes(fields[6]) if len(fields) > 6 else []:
            if name == NESTED_SIGNATURE:
                raise Malformed("carries a nested signature")
            if name not in TIME_STAMPS or self.time_stamp is not None or len(values) != 1:
                raise Malformed(f"carries an unauthenticated attribute {name} that is no single time stamp")
            self.time_stamp = values[0].encoding
        if len(fields) > 7:
            raise Malformed("SignerInfo has fields after its unauthenticated attributes")

    def signer_certificate(self):
        """The DER certificate whose issuer and serial number the SignerInfo names."""
        for certificate in self.certificates:
            tbs = Der(certificate).children()[0].children()
            offset = 1 if tbs[0].tag == 0xA0 else 0
            if tbs[offset + 2].encoding + tbs[offset].encoding == self.issuer_serial:
                return certificate
        raise Malformed("carries no certificate of its signer")

    def consistency(self):
        """The reason the signed attributes do not bind the content, or None."""
        content_type = self.signed.get(CONTENT_TYPE)
        if not content_type or len(content_type) != 1 or oid(content_type[0]) != SPC_INDIRECT_DATA:
            return "its signed content type is not Authenticode's"
        message_digest = self.signed.get(MESSAGE_DIGEST)
        expected = hashlib.new(self.digest, self.indirect_value).digest()
        if not message_digest or len(message_digest) != 1 or message_digest[0].value != expected:
            return "its signed message digest does not match its content"
        return None


def read_signature(data):
    """The Signature of DER bytes; ValueError for anything else."""
    try:
        return Signature(data)
    except (IndexError, ValueError) as error:
        raise Malformed(str(error) if isinstance(error, ValueError) and str(error) and
                         not str(error).startswith(("not enough", "too many")) else "is not one well-formed PKCS#7 SignedData") from None


def fingerprint(certificate):
    return "sha256:" + hashlib.sha256(certificate).hexdigest()
