"""The bill of materials of one release zip, as SPDX 2.3 and CycloneDX 1.6
JSON: the product, every described file with its hashes, every third-party
component with its version, licence and package URL, and which program
statically links which component. Same input, same bytes: times and
identifiers come from the commit and the architecture.

The CycloneDX document is the one written to BSI TR-03183-2 v2.1.0: the
publisher as the SBOM's creator, the generating tool and the lifecycle phase;
for every component its creator and supplier with their addresses, its
version, concluded licence, package URL, SHA-512 (of the file itself, or of
the wheel or Debian package a library came in, which the document names) and
BSI's filename, executable, archive and structured properties; every
component in the dependency graph, and the graph's completeness."""
import base64
import hashlib
import json
import re
import uuid
from typing import NamedTuple

import pinned
from release_description import NOTICES

COMMIT_PROPERTY = "korvel:commit"
# Our own code and files, as the LICENSE file states.
OWN_LICENCE = "Apache-2.0"
OWN_LICENCE_NAME = "the Apache License, Version 2.0"
# The generator of the documents, versioned with the tree.
TOOL = "sbom.py"


class Organisation(NamedTuple):
    """Who made or supplied a component, and where: an https URL, an email address, either may be ""."""
    name: str
    url: str = ""
    email: str = ""

    def cyclonedx(self):
        return {"name": self.name, **({"url": [self.url]} if self.url else {}),
                **({"contact": [{"email": self.email}]} if self.email else {})}

    @classmethod
    def of_cyclonedx(cls, entity):
        return cls(entity["name"], (entity.get("url") or [""])[0], (entity.get("contact") or [{}])[0].get("email", ""))


class Distribution(NamedTuple):
    """The bytes a component came in: what they are, where they are published, their SHA-512."""
    what: str
    url: str
    sha512: str


class Part:
    """A third-party component as the documents give it."""

    def __init__(self, package, version, licence, purl, supplier, manufacturer, distribution, programs):
        self.package, self.version, self.licence, self.purl = package, version, licence, purl
        self.supplier, self.manufacturer, self.distribution = supplier, manufacturer, distribution
        self.programs = list(programs)

    @classmethod
    def of(cls, component):
        """The part a component of the build (components.py) is; reads the bytes it came in."""
        what, url, path = component.distribution()
        digest = hashlib.sha512()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        return cls(component.package, component.version, component.licence, component.purl,
                   Organisation(component.supplier, component.supplier_url), Organisation(*component.manufacturer),
                   Distribution(what, url, digest.hexdigest()), component.programs)


class Meta:
    def __init__(self, name, version, arch, commit, created, signed, publisher):
        self.name, self.version, self.arch, self.commit = name, version, arch, commit
        self.created, self.signed = created, signed
        self.publisher = publisher  # an Organisation

    @property
    def document(self):
        return f"{self.name}-{self.version}-windows-{self.arch}"

    @property
    def namespace(self):
        kind = "signed" if self.signed else "unsigned"
        return f"https://spdx.org/spdxdocs/{self.document}-{kind}-{re.sub(r'[^A-Za-z0-9.-]', '-', self.commit)}"

    def purl(self, file=None):
        """Our package URL: of the product of this architecture, or of one of its files."""
        return f"pkg:generic/{self.name}@{self.version}?arch={self.arch}" + (f"#{file}" if file else "")


def _id(kind, name):
    return f"SPDXRef-{kind}-{re.sub(r'[^A-Za-z0-9.]', '-', name)}"


def file_licence(name, parts):
    """A file's licence as an SPDX expression: ours, and for a program also those of what it links; for the
    notices, which quote every component's texts, those of every component."""
    linked = sorted({part.licence for part in parts if name in part.programs or name == NOTICES})
    return " AND ".join([OWN_LICENCE] + [f"({licence})" if " " in licence else licence for licence in linked])


def _dump(document):
    return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()


def _spdx_organisation(organisation):
    return f"Organization: {organisation.name}" + (f" ({organisation.email})" if organisation.email else "")


def spdx(meta, files, parts):
    """files: (name, bytes) of the zip that the document describes."""
    product = _id("Package", meta.name)
    packages = [{
        "SPDXID": product, "name": meta.name, "versionInfo": meta.version,
        "supplier": _spdx_organisation(meta.publisher), "downloadLocation": "NOASSERTION", "filesAnalyzed": True,
        "packageVerificationCode": {"packageVerificationCodeValue": hashlib.sha1("".join(
            sorted(hashlib.sha1(data).hexdigest() for _, data in files)).encode()).hexdigest()},
        "licenseConcluded": OWN_LICENCE, "licenseDeclared": OWN_LICENCE, "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
    }]
    packages += [{
        "SPDXID": _id("Package", part.package), "name": part.package, "versionInfo": part.version,
        "supplier": _spdx_organisation(part.supplier), "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
        "licenseConcluded": part.licence, "licenseDeclared": part.licence, "copyrightText": "NOASSERTION",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": part.purl}],
        "primaryPackagePurpose": "LIBRARY",
    } for part in parts]
    described = [{
        "SPDXID": _id("File", name), "fileName": f"./{name}",
        "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
                      {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
        "licenseConcluded": file_licence(name, parts), "copyrightText": "NOASSERTION",
    } for name, data in files]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": product}]
    relationships += [{"spdxElementId": product, "relationshipType": "CONTAINS",
                       "relatedSpdxElement": _id("File", name)} for name, _ in files]
    relationships += [{"spdxElementId": _id("File", program), "relationshipType": "STATIC_LINK",
                       "relatedSpdxElement": _id("Package", part.package)}
                      for part in parts for program in part.programs]
    return _dump({
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": meta.document, "documentNamespace": meta.namespace,
        "creationInfo": {"created": meta.created, "creators": [_spdx_organisation(meta.publisher),
                                                               f"Tool: {meta.name}-{TOOL}-{meta.version}"],
                         "comment": f"Built from commit {meta.commit}."},
        "packages": packages, "files": described, "relationships": relationships,
    })


# BSI's CycloneDX property taxonomy (v0.1.2): each exactly once per component, with these values.
EXECUTABLE, ARCHIVE, STRUCTURED, FILENAME = (f"bsi:component:{p}" for p in ("executable", "archive", "structured",
                                                                          "filename"))


def _kind(executable, archive, structured):
    """BSI's executable, archive and structured properties of a component."""
    return [{"name": EXECUTABLE, "value": "executable" if executable else "non-executable"},
            {"name": ARCHIVE, "value": "archive" if archive else "no archive"},
            {"name": STRUCTURED, "value": "structured" if structured else "unstructured"}]


def _concluded(expression):
    return [{"expression": expression, "acknowledgement": "concluded"}]


def _sha512(content):
    return [{"alg": "SHA-512", "content": content}]


def _file(meta, name, data, parts, zip_name):
    """One file of the zip. A program is executable; like the texts beside it, it keeps no account of
    what it contains (the programs link their libraries statically), so it is unstructured."""
    sha512 = hashlib.sha512(data).hexdigest()
    return {
        "type": "file", "bom-ref": f"file:{name}", "supplier": meta.publisher.cyclonedx(),
        "manufacturer": meta.publisher.cyclonedx(), "name": name, "version": meta.version,
        "hashes": [{"alg": "SHA-1", "content": hashlib.sha1(data).hexdigest()},
                   {"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()}] + _sha512(sha512),
        "licenses": _concluded(file_licence(name, parts)), "purl": meta.purl(name),
        "externalReferences": [{"type": "distribution", "url": name, "comment": f"{name} in {zip_name}",
                                "hashes": _sha512(sha512)}],
        "properties": [{"name": FILENAME, "value": name}] + _kind(name.endswith(".exe"), False, False),
    }


def _library(part):
    """A component a program links: it came in an archive (a wheel, a Debian package) that keeps its
    metadata, and it runs only inside a program."""
    return {
        "type": "library", "bom-ref": part.purl, "supplier": part.supplier.cyclonedx(),
        "manufacturer": part.manufacturer.cyclonedx(), "name": part.package, "version": part.version,
        "hashes": _sha512(part.distribution.sha512), "licenses": _concluded(part.licence), "purl": part.purl,
        "externalReferences": [{"type": "distribution", "url": part.distribution.url,
                                "comment": part.distribution.what, "hashes": _sha512(part.distribution.sha512)}],
        "properties": _kind(False, True, True),
    }


def cyclonedx(meta, files, parts, zip_name):
    """zip_name: the zip the files are in (the product's deployable form, which cannot hold its own hash)."""
    product = {"type": "application", "bom-ref": meta.name, "supplier": meta.publisher.cyclonedx(),
               "manufacturer": meta.publisher.cyclonedx(), "name": meta.name, "version": meta.version,
               "licenses": _concluded(OWN_LICENCE), "purl": meta.purl(),
               "properties": [{"name": FILENAME, "value": zip_name}] + _kind(False, True, True)}
    components = [_file(meta, name, data, parts, zip_name) for name, data in files]
    components += [_library(part) for part in parts]
    dependencies = [{"ref": meta.name, "dependsOn": [f"file:{name}" for name, _ in files]}]
    for name, _ in files:
        dependencies.append({"ref": f"file:{name}",
                             "dependsOn": [part.purl for part in parts if name in part.programs]})
    dependencies += [{"ref": part.purl, "dependsOn": []} for part in parts]
    programs = [f"file:{name}" for name, _ in files if any(name in part.programs for part in parts)]
    return _dump({
        "bomFormat": "CycloneDX", "specVersion": "1.6",
        "serialNumber": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, meta.namespace)}", "version": 1,
        "metadata": {"timestamp": meta.created, "lifecycles": [{"phase": "build"}],
                     "tools": {"components": [{"type": "application", "group": meta.name, "name": TOOL,
                                               "version": meta.version}]},
                     "manufacturer": meta.publisher.cyclonedx(), "supplier": meta.publisher.cyclonedx(),
                     "component": product, "properties": [{"name": COMMIT_PROPERTY, "value": meta.commit}]},
        "components": components, "dependencies": dependencies,
        # The zip holds exactly these files, and what each program contains is all here. What the programs
        # load when they run (Windows' own DLLs, the maker's ostrum.dll) and what the libraries need of each
        # other are not components of the release.
        "compositions": [
            {"aggregate": "complete", "assemblies": [meta.name],
             "dependencies": [meta.name] + [f"file:{name}" for name, _ in files if f"file:{name}" not in programs]},
            {"aggregate": "incomplete", "dependencies": programs + [part.purl for part in parts]},
        ],
    })


def parts_of(cyclonedx_bytes):
    """The components, the publisher, and the commit and time that a CycloneDX document of ours records."""
    document = json.loads(cyclonedx_bytes)
    links = {d["ref"]: d["dependsOn"] for d in document["dependencies"]}
    files = [c["name"] for c in document["components"] if c["type"] == "file"]
    parts = []
    for c in (c for c in document["components"] if c["type"] == "library"):
        reference = c["externalReferences"][0]
        parts.append(Part(c["name"], c["version"], c["licenses"][0]["expression"], c["purl"],
                          Organisation.of_cyclonedx(c["supplier"]), Organisation.of_cyclonedx(c["manufacturer"]),
                          Distribution(reference["comment"], reference["url"], reference["hashes"][0]["content"]),
                          [name for name in files if c["purl"] in links.get(f"file:{name}", [])]))
    metadata = document["metadata"]
    commit = next(p["value"] for p in metadata["properties"] if p["name"] == COMMIT_PROPERTY)
    return parts, Organisation.of_cyclonedx(metadata["manufacturer"]), commit, metadata["timestamp"]


# A signed release's CycloneDX documents carry the publisher's signature in JSF, CycloneDX's own form:
# RS256 over the document's JSON canonical form (RFC 8785) with the signature object but its value.
JSF_ALGORITHM = "RS256"


def canonical(document):
    pinned.use_libraries()
    import rfc8785  # noqa: E402 (the pinned library, from the project's venv)
    return rfc8785.dumps(document)


def signed_content(document):
    """The bytes a document's signature covers: its canonical form with the signature's value left out."""
    signature = {k: v for k, v in document["signature"].items() if k != "value"}
    return canonical({**document, "signature": signature})


def jsf_seal(sign, certificates):
    """seal(document) -> its signature: sign(bytes) -> an RS256 signature, certificates the chain in DER,
    signing certificate first."""
    def seal(document):
        signature = {"algorithm": JSF_ALGORITHM,
                     "certificatePath": [base64.b64encode(der).decode() for der in certificates]}
        value = sign(signed_content({**document, "signature": signature}))
        return {**signature, "value": base64.urlsafe_b64encode(value).rstrip(b"=").decode()}
    return seal


def sealed(cyclonedx_bytes, seal):
    """The document with the signature seal(document) gives it, as the last member."""
    document = json.loads(cyclonedx_bytes)
    document.pop("signature", None)
    document["signature"] = seal(document)
    return _dump(document)


def notices(meta, components, read):
    """THIRD-PARTY-NOTICES.txt, CRLF: each component, its licence and programs, and the texts its
    notice_files() name (a Debian package's copyright file and the common licences it refers to, or a
    licence file of the ziglang package), each text given once. read(path) -> text."""
    title = f"Third-party notices: {meta.name} {meta.version}, windows-{meta.arch}"
    lines = [title, "=" * len(title), "",
             f"{meta.name} is licensed under {OWN_LICENCE_NAME} ({OWN_LICENCE}): see LICENSE",
             "beside this file. The components of others below keep their own licences.", "",
             "The programs of this package contain the following components, each with its",
             "version (as BUILDINFO records it), its licence (an SPDX expression) and the",
             "programs that contain it. The licence texts and copyright notices follow,",
             "copied from the packages the build used.", ""]
    for component in components:
        lines += [f"- {component.package} {component.version}", f"  Licence: {component.licence}",
                  f"  Contained in: {', '.join(component.programs)}"]
    given = {}
    for component in components:
        for label, path in component.notice_files():
            text = read(path)
            lines += ["", "-" * 78, f"{component.package}: {label}", "-" * 78]
            if text in given:
                lines.append(f"The same text as {given[text]}, above.")
            else:
                given[text] = label
                lines += text.rstrip("\n").split("\n")
    return ("\r\n".join(lines) + "\r\n").encode()
