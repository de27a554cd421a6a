#!/usr/bin/env python3
"""An Authenticode signature as a detached file, and back into a PE file.

  pe_signature.py extract SIGNED.exe OUT.sig     the PKCS#7 SignedData, plain DER
  pe_signature.py attach UNSIGNED.exe SIG OUT.exe the signed file it came from

Attaching does what a signing tool does to the file: one WIN_CERTIFICATE
(revision 2.0, PKCS#7) appended at an 8-byte boundary and padded to 8 bytes,
the security directory pointing at it, the optional header's CheckSum made
anew. osslsigncode 2.5 and 2.9 lay a signature out this way; their own
extract and attach commands use formats of their own, which each refuses
from the other."""
import hashlib
import struct
import sys

WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
SECURITY_DIRECTORY = 4


class NotAPeFile(ValueError):
    pass


def _offsets(image):
    """File offsets of the CheckSum field and of the security directory entry."""
    if image[:2] != b"MZ" or len(image) < 0x40:
        raise NotAPeFile("no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise NotAPeFile("no PE signature")
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = {0x10B: 96, 0x20B: 112}.get(magic)
    if directories is None:
        raise NotAPeFile(f"unknown optional header magic {magic:#x}")
    return optional + 64, optional + directories + 8 * SECURITY_DIRECTORY


def checksum(image, checksum_at):
    """The PE CheckSum: 16-bit one's-complement-style sum, the field itself left out, plus the length."""
    data = image[:checksum_at] + b"\0\0\0\0" + image[checksum_at + 4:]
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"<{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def der_length(data):
    """Length of the DER SEQUENCE at the start of data."""
    if len(data) < 2 or data[0] != 0x30:
        raise ValueError("not a DER SEQUENCE")
    if data[1] < 0x80:
        return 2 + data[1]
    count = data[1] & 0x7F
    if not 1 <= count <= 4 or len(data) < 2 + count:
        raise ValueError("bad DER length")
    return 2 + count + int.from_bytes(data[2:2 + count], "big")


def extract(signed):
    """The PKCS#7 SignedData of the file's one certificate table entry."""
    _, security_at = _offsets(signed)
    table, size = struct.unpack_from("<II", signed, security_at)
    if table == 0 or size < 8 or table + size > len(signed):
        raise ValueError("the file carries no signature")
    length, revision, kind = struct.unpack_from("<IHH", signed, table)
    if (revision, kind) != (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA) or length > size:
        raise ValueError("the certificate table holds no PKCS#7 signature")
    body = signed[table + 8:table + length]
    return body[:der_length(body)]


def attach(unsigned, signature):
    """The unsigned file with the signature in its certificate table."""
    checksum_at, security_at = _offsets(unsigned)
    if struct.unpack_from("<II", unsigned, security_at) != (0, 0):
        raise ValueError("the file already carries a signature")
    if der_length(signature) != len(signature):
        raise ValueError("the signature is not one DER SEQUENCE")
    image = bytearray(unsigned)
    image += b"\0" * (-len(image) % 8)
    padding = -len(signature) % 8
    entry = struct.pack("<IHH", 8 + len(signature) + padding, WIN_CERT_REVISION_2_0,
                        WIN_CERT_TYPE_PKCS_SIGNED_DATA) + signature + b"\0" * padding
    struct.pack_into("<II", image, security_at, len(image), len(entry))
    image += entry
    struct.pack_into("<I", image, checksum_at, checksum(bytes(image), checksum_at))
    return bytes(image)


def authenticode_digest(image, algorithm):
    """The Authenticode hash: the whole file but the CheckSum, the security
    directory entry and the certificate table that it points at."""
    checksum_at, security_at = _offsets(image)
    table, size = struct.unpack_from("<II", image, security_at)
    end = table if size else len(image)
    if end > len(image) or end < security_at + 8:
        raise ValueError("the certificate table lies outside the file")
    digest = hashlib.new(algorithm)
    for start, stop in ((0, checksum_at), (checksum_at + 4, security_at), (security_at + 8, end)):
        digest.update(image[start:stop])
    return digest.digest()


def checksum_holds(image):
    """True when the CheckSum field holds the file's checksum."""
    checksum_at, _ = _offsets(image)
    return struct.unpack_from("<I", image, checksum_at)[0] == checksum(image, checksum_at)


def main(argv):
    def read(path):
        with open(path, "rb") as f:
            return f.read()
    try:
        if len(argv) == 4 and argv[1] == "extract":
            result = extract(read(argv[2]))
            out = argv[3]
        elif len(argv) == 5 and argv[1] == "attach":
            result = attach(read(argv[2]), read(argv[3]))
            out = argv[4]
        else:
            print(__doc__.split("\n\n")[1], file=sys.stderr)
            return 2
    except (OSError, ValueError) as error:
        print(f"pe_signature.py: {argv[2]}: {error}", file=sys.stderr)
        return 1
    with open(out, "wb") as f:
        f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
