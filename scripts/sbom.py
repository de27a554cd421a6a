"""The bill of materials of one release zip, as SPDX 2.3 and CycloneDX 1.6
JSON: the product, every described file with its hashes, every third-party
component with its version, licence and package URL, and which program
statically links which component. Same input, same bytes: times and
identifiers come from the commit and the architecture."""
import hashlib
import json
import re
import uuid

SUPPLIER = "korvel project"
COMMIT_PROPERTY = "korvel:commit"
# Our own code and files, as the LICENSE file states.
OWN_LICENCE = "Apache-2.0"
OWN_LICENCE_NAME = "the Apache License, Version 2.0"
from release_description import NOTICES  # holds others' texts, under their licences: none of ours to assert


class Part:
    """A third-party component as the documents give it."""

    def __init__(self, package, version, licence, purl, supplier, programs):
        self.package, self.version, self.licence, self.purl = package, version, licence, purl
        self.supplier = supplier
        self.programs = list(programs)


class Meta:
    def __init__(self, name, version, arch, commit, created, signed):
        self.name, self.version, self.arch, self.commit = name, version, arch, commit
        self.created, self.signed = created, signed

    @property
    def document(self):
        return f"{self.name}-{self.version}-windows-{self.arch}"

    @property
    def namespace(self):
        kind = "signed" if self.signed else "unsigned"
        return f"https://spdx.org/spdxdocs/{self.document}-{kind}-{re.sub(r'[^A-Za-z0-9.-]', '-', self.commit)}"


def _id(kind, name):
    return f"SPDXRef-{kind}-{re.sub(r'[^A-Za-z0-9.]', '-', name)}"


def file_licence(name, parts):
    """A file's licence as an SPDX expression: ours, and for a program also those of what it links;
    None for the notices."""
    if name == NOTICES:
        return None
    linked = sorted({part.licence for part in parts if name in part.programs})
    return " AND ".join([OWN_LICENCE] + [f"({licence})" if " " in licence else licence for licence in linked])


def _dump(document):
    return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()


def spdx(meta, files, parts):
    """files: (name, bytes) of the zip that the document describes."""
    product = _id("Package", meta.name)
    packages = [{
        "SPDXID": product, "name": meta.name, "versionInfo": meta.version,
        "supplier": f"Organization: {SUPPLIER}", "downloadLocation": "NOASSERTION", "filesAnalyzed": True,
        "packageVerificationCode": {"packageVerificationCodeValue": hashlib.sha1("".join(
            sorted(hashlib.sha1(data).hexdigest() for _, data in files)).encode()).hexdigest()},
        "licenseConcluded": OWN_LICENCE, "licenseDeclared": OWN_LICENCE, "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
    }]
    packages += [{
        "SPDXID": _id("Package", part.package), "name": part.package, "versionInfo": part.version,
        "supplier": f"Organization: {part.supplier}", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
        "licenseConcluded": part.licence, "licenseDeclared": part.licence, "copyrightText": "NOASSERTION",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": part.purl}],
        "primaryPackagePurpose": "LIBRARY",
    } for part in parts]
    described = [{
        "SPDXID": _id("File", name), "fileName": f"./{name}",
        "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
                      {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
        "licenseConcluded": file_licence(name, parts) or "NOASSERTION", "copyrightText": "NOASSERTION",
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
        "creationInfo": {"created": meta.created, "creators": [f"Organization: {SUPPLIER}",
                                                               "Tool: korvel-release_zip.py"],
                         "comment": f"Built from commit {meta.commit}."},
        "packages": packages, "files": described, "relationships": relationships,
    })


def cyclonedx(meta, files, parts):
    product = {"type": "application", "bom-ref": meta.name, "name": meta.name, "version": meta.version,
               "supplier": {"name": SUPPLIER}, "licenses": [{"expression": OWN_LICENCE}]}
    components = [{
        "type": "file", "bom-ref": f"file:{name}", "name": name,
        "hashes": [{"alg": "SHA-1", "content": hashlib.sha1(data).hexdigest()},
                   {"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()}],
        **({"licenses": [{"expression": file_licence(name, parts)}]} if file_licence(name, parts) else {}),
    } for name, data in files]
    components += [{
        "type": "library", "bom-ref": part.purl, "supplier": {"name": part.supplier}, "name": part.package,
        "version": part.version, "licenses": [{"expression": part.licence}], "purl": part.purl,
    } for part in parts]
    dependencies = [{"ref": meta.name, "dependsOn": [f"file:{name}" for name, _ in files]}]
    for name, _ in files:
        dependencies.append({"ref": f"file:{name}",
                             "dependsOn": [part.purl for part in parts if name in part.programs]})
    dependencies += [{"ref": part.purl, "dependsOn": []} for part in parts]
    return _dump({
        "bomFormat": "CycloneDX", "specVersion": "1.6",
        "serialNumber": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, meta.namespace)}", "version": 1,
        "metadata": {"timestamp": meta.created, "supplier": {"name": SUPPLIER}, "component": product,
                     "properties": [{"name": COMMIT_PROPERTY, "value": meta.commit}]},
        "components": components, "dependencies": dependencies,
    })


def parts_of(cyclonedx_bytes):
    """The components and the commit and time that a CycloneDX document of ours records."""
    document = json.loads(cyclonedx_bytes)
    links = {d["ref"]: d["dependsOn"] for d in document["dependencies"]}
    files = [c["name"] for c in document["components"] if c["type"] == "file"]
    parts = [Part(c["name"], c["version"], c["licenses"][0]["expression"], c["purl"], c["supplier"]["name"],
                  [name for name in files if c["purl"] in links.get(f"file:{name}", [])])
             for c in document["components"] if c["type"] == "library"]
    metadata = document["metadata"]
    commit = next(p["value"] for p in metadata["properties"] if p["name"] == COMMIT_PROPERTY)
    return parts, commit, metadata["timestamp"]


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
