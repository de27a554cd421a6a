#!/usr/bin/python3
"""The SBOMs and third-party notices of every zip, unsigned (dist/) and
signed (dist/ signed here with a throwaway CA):

- the official validators accept each SBOM: pyspdxtools, the NTIA minimum
  elements of ntia-checker, and cyclonedx-python-lib's strict JSON schema;
- the SBOMs in a zip are the ones beside it, and describe exactly the zip's
  other files, with their hashes;
- SPDX's STATIC_LINK and CycloneDX's dependencies name the same components
  per program, and agree with what the binary itself shows where it can;
- each component is in BUILDINFO at its version (a part of a PyPI package:
  that package at its version), and THIRD-PARTY-NOTICES.txt (CRLF lines)
  names it with its licence and holds its copyright file (for a part of a
  PyPI package, the licence file the package's metadata lists in its folder);
- facts recomputed from the zip's bytes and the build, not from the scripts
  that wrote them: SPDX's package verification code (SPDX 2.3, 7.9), each
  package URL as packageurl-python parses and writes it again, distinct
  namespaces and serial numbers for every document, and libc++,
  libc++abi and libunwind from lld's map of each program;
- the product and our own files are Apache-2.0, as LICENSE says, and each
  program's licence adds those of the components it links; the notices name
  our licence before anything else.
Usage: check_sboms.py"""
import fnmatch
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import release_description  # noqa: E402
import release_zip  # noqa: E402

TOOLS = os.path.join(ROOT, "build", "python-tools", "bin")
# Bytes that only a component's code carries: (package patterns, marker, whether its absence means the
# component is absent too). Zig's parts: the MinGW-w64 runtime as such; std::bad_alloc and the
# default terminate handler are libc++abi's.
MARKERS = [(("nlohmann-json3-dev",), b"[json.exception.", True),
           (("mingw-w64",), b"Mingw-w64 runtime failure", True),
           (("libc++abi",), b"St9bad_alloc", False),
           (("libc++abi",), b"terminating due to", False),
           (("libunwind",), b"libunwind: ", False)]

tally = Tally("SBOMs and notices")
check = tally.check


def validators(name, spdx_path, cyclonedx):
    result = subprocess.run([os.path.join(TOOLS, "pyspdxtools"), "-i", spdx_path], capture_output=True, text=True)
    check(f"{name}: pyspdxtools validates the SPDX document", result.returncode == 0, result.stderr[-500:])
    result = subprocess.run([os.path.join(TOOLS, "ntia-checker"), spdx_path], capture_output=True, text=True)
    check(f"{name}: NTIA minimum elements", result.returncode == 0 and "Conformant: True" in result.stdout,
          result.stdout[-800:])
    code = ("import sys\nfrom cyclonedx.validation.json import JsonStrictValidator\n"
            "from cyclonedx.schema import SchemaVersion\n"
            "error = JsonStrictValidator(SchemaVersion.V1_6).validate_str(sys.stdin.read())\n"
            "print(error or 'valid')")
    result = subprocess.run([os.path.join(TOOLS, "python"), "-c", code], input=cyclonedx, capture_output=True)
    check(f"{name}: CycloneDX 1.6 strict schema", result.stdout.strip() == b"valid", result.stdout[-500:] + result.stderr)


def per_program(spdx, cyclonedx):
    """program -> components, once from each document."""
    packages = {p["SPDXID"]: p["name"] for p in spdx["packages"]}
    from_spdx = {}
    for link in (r for r in spdx["relationships"] if r["relationshipType"] == "STATIC_LINK"):
        program = link["spdxElementId"].replace("SPDXRef-File-", "")
        from_spdx.setdefault(program, set()).add(packages[link["relatedSpdxElement"]])
    names = {c["bom-ref"]: c["name"] for c in cyclonedx["components"]}
    from_cyclonedx = {d["ref"][len("file:"):]: {names[r] for r in d["dependsOn"]}
                      for d in cyclonedx["dependencies"] if d["ref"].startswith("file:") and d["dependsOn"]}
    return from_spdx, from_cyclonedx


def described_files(name, files, spdx, cyclonedx):
    """Every other file of the zip, with its hashes from the zip's own bytes: SHA-1 and SHA-256 in both
    documents, and in CycloneDX the SHA-512 too, also where its distribution reference gives it."""
    expected = {n: (hashlib.sha1(d).hexdigest(), hashlib.sha256(d).hexdigest()) for n, d in files.items()}
    sha512 = {n: hashlib.sha512(d).hexdigest() for n, d in files.items()}
    in_spdx = {f["fileName"][2:]: tuple(c["checksumValue"] for c in f["checksums"]) for f in spdx["files"]}
    in_cyclonedx = {c["name"]: tuple(h["content"] for h in c["hashes"])
                    for c in cyclonedx["components"] if c["type"] == "file"}
    check(f"{name}: SPDX describes every other file of the zip with its hashes", in_spdx == expected,
          sorted(set(in_spdx.items()) ^ set(expected.items()))[:2])
    with_sha512 = {n: hashes + (sha512[n],) for n, hashes in expected.items()}
    check(f"{name}: CycloneDX describes every other file of the zip with its hashes, SHA-512 included",
          in_cyclonedx == with_sha512, sorted(set(in_cyclonedx.items()) ^ set(with_sha512.items()))[:2])
    distributed = {c["name"]: [h["content"] for r in c.get("externalReferences", []) if r["type"] == "distribution"
                               for h in r.get("hashes", []) if h["alg"] == "SHA-512"]
                   for c in cyclonedx["components"] if c["type"] == "file"}
    check(f"{name}: each file's distribution reference gives its SHA-512",
          distributed == {n: [digest] for n, digest in sha512.items()}, distributed)


def components_hold(name, files, spdx, cyclonedx):
    from_spdx, from_cyclonedx = per_program(spdx, cyclonedx)
    check(f"{name}: both documents link the same components", from_spdx == from_cyclonedx, (from_spdx, from_cyclonedx))
    for program in release_description.PROGRAMS:
        listed = from_spdx.get(program, set())
        for patterns, marker, both_ways in MARKERS:
            pattern = " or ".join(patterns)
            named = {p for p in listed if any(fnmatch.fnmatch(p, one) for one in patterns)}
            if marker in files[program]:
                check(f"{name} {program}: lists {pattern}, whose bytes it carries", named, listed)
            elif both_ways:
                check(f"{name} {program}: lists no {pattern}, whose bytes it lacks", not named, listed)
    # One toolchain, Zig's, builds every architecture: BUILDINFO names it and no Debian MinGW-w64 package.
    check(f"{name}: BUILDINFO records Zig's toolchain and no Debian MinGW-w64 package",
          b" ziglang (= " in files["BUILDINFO"] and b"mingw" not in files["BUILDINFO"], files["BUILDINFO"])
    notices = files[release_description.NOTICES]
    check(f"{name}: notices have CRLF lines", notices.count(b"\r\n") == notices.count(b"\n") > 100)
    for part in (p for p in spdx["packages"] if p["name"] != "korvel"):
        purl = part["externalRefs"][0]["referenceLocator"]
        package, version = (purl[len("pkg:pypi/"):].split("#")[0].split("@") if purl.startswith("pkg:pypi/")
                            else (part["name"], part["versionInfo"]))
        check(f"{name} {part['name']}: in BUILDINFO at its version", f" {package} (= {version})".encode()
              in files["BUILDINFO"], files["BUILDINFO"])
        entry = f"- {part['name']} {part['versionInfo']}\r\n  Licence: {part['licenseDeclared']}\r\n".encode()
        with open(copyright_file(part["name"], purl), "rb") as f:
            text = f.read().rstrip(b"\n").replace(b"\n", b"\r\n")
        check(f"{name} {part['name']}: named in the notices with its licence and copyright file",
              entry in notices and text in notices)


def product_of(spdx):
    return next(p for p in spdx["packages"] if p["name"] == "korvel")


def licences_hold(name, files, spdx, cyclonedx):
    """Our licence where LICENSE puts it, each program's from the components the documents link to it."""
    check(f"{name}: LICENSE is the Apache License 2.0", b"Apache License\r\n" in files["LICENSE"] and
          b"Version 2.0, January 2004" in files["LICENSE"])
    product = product_of(spdx)
    check(f"{name}: the product is Apache-2.0 in both documents",
          (product["licenseDeclared"], product["licenseConcluded"], cyclonedx["metadata"]["component"]["licenses"]) ==
          ("Apache-2.0", "Apache-2.0", [{"expression": "Apache-2.0", "acknowledgement": "concluded"}]), product)
    licences = {p["name"]: p["licenseDeclared"] for p in spdx["packages"]}
    linked, _ = per_program(spdx, cyclonedx)
    in_cyclonedx = {c["name"]: c.get("licenses", [{}])[0].get("expression", "NOASSERTION")
                    for c in cyclonedx["components"] if c["type"] == "file"}
    for f in spdx["files"]:
        file = f["fileName"][2:]
        terms = {term.strip("()") for term in f["licenseConcluded"].split(" AND ")}
        # The notices quote every component's texts; a program links some.
        quoted = set(licences) - {"korvel"} if file == release_description.NOTICES else linked.get(file, ())
        want = {"Apache-2.0"} | {licences[package] for package in quoted}
        check(f"{name} {file}: licence ours and its components'", terms == want and
              in_cyclonedx[file] == f["licenseConcluded"], (f["licenseConcluded"], in_cyclonedx[file], want))
    head = files[release_description.NOTICES].split(b"\r\n")[:5]
    check(f"{name}: the notices name our licence first", any(b"Apache License, Version 2.0 (Apache-2.0)" in line
                                                              and b"LICENSE" in line for line in head), head)


def verification_code(name, files, spdx):
    """SPDX 2.3, 7.9: the SHA-1 of the sorted SHA-1s of the package's files, from the zip's own bytes."""
    described = [f["fileName"][2:] for f in spdx["files"]]
    code = hashlib.sha1("".join(sorted(hashlib.sha1(files[n]).hexdigest() for n in described)).encode()).hexdigest()
    product = product_of(spdx)
    check(f"{name}: the package verification code", product["packageVerificationCode"] ==
          {"packageVerificationCodeValue": code}, (product["packageVerificationCode"], code))


def purls_hold(name, arch, spdx, cyclonedx):
    """Every package URL is what packageurl-python writes of it again; both documents give the libraries the
    same; ours are the generic package of the product and its files, as packageurl-python writes them."""
    in_spdx = sorted(r["referenceLocator"] for p in spdx["packages"] for r in p.get("externalRefs", [])
                     if r["referenceType"] == "purl")
    libraries = sorted(c["purl"] for c in cyclonedx["components"] if c["type"] == "library")
    ours = [cyclonedx["metadata"]["component"]["purl"]] + [c["purl"] for c in cyclonedx["components"]
                                                           if c["type"] == "file"]
    code = ("import sys\nfrom packageurl import PackageURL\n"
            "for line in sys.stdin.read().split():\n"
            "    print(PackageURL.from_string(line).to_string())\n"
            f"print(PackageURL('generic', name='korvel', version={release_description.VERSION!r}, "
            f"qualifiers={{'arch': {arch!r}}}).to_string())\n")
    result = subprocess.run([os.path.join(TOOLS, "python"), "-c", code], input="\n".join(in_spdx + ours),
                            capture_output=True, text=True)
    written = result.stdout.split()
    check(f"{name}: each package URL is canonical", written[:-1] == in_spdx + ours and in_spdx == libraries,
          (in_spdx, ours, result.stdout, result.stderr[-300:]))
    files = [c["name"] for c in cyclonedx["components"] if c["type"] == "file"]
    check(f"{name}: our package URLs are the product's and its files'",
          written and ours == [written[-1]] + [f"{written[-1]}#{file}" for file in files], (ours, written[-1:]))


# Zig's LLVM runtime libraries, as lld's map names them in its Lib column, and the component each is.
LLVM_RUNTIMES = {"c++": "libc++", "c++abi": "libc++abi", "unwind": "libunwind"}


def llvm_runtimes_hold(name, arch, spdx, cyclonedx):
    """Each program lists exactly the LLVM runtime libraries that lld's map shows it keeps."""
    listed, _ = per_program(spdx, cyclonedx)
    seen = set()
    for program in release_description.PROGRAMS:
        path, = glob.glob(os.path.join(ROOT, "build", f"windows-{arch}", "*", program.replace(".exe", ".map")))
        with open(path) as f:
            publics = f.read().split("Publics by Value", 1)[1].splitlines()[1:]
        kept = {line.split()[-1].split(":")[0] for line in publics if ":" in (line.split() or [""])[-1]}
        shown = {LLVM_RUNTIMES[lib] for lib in kept if lib in LLVM_RUNTIMES}
        check(f"{name} {program}: the LLVM runtimes lld kept", shown == listed.get(program, set()) & set(
            LLVM_RUNTIMES.values()), (shown, listed.get(program)))
        seen |= shown
    # brisal may keep none; the C++ programs keep libc++ at least, so the map was read.
    check(f"{name}: lld's maps show LLVM runtimes", "libc++" in seen, seen)


def copyright_file(name, purl):
    """A Debian package's copyright file; for a part of a PyPI package, the one licence file that the
    installed package's metadata lists in the folder the purl's subpath names."""
    if not purl.startswith("pkg:pypi/"):
        return f"/usr/share/doc/{name}/copyright"
    package, _, subpath = purl[len("pkg:pypi/"):].partition("#")
    package, version = package.split("@")
    metadata, = glob.glob(os.path.join(TOOLS, "..", "lib", "python3*", "site-packages",
                                       f"{package}-{version}.dist-info", "METADATA"))
    with open(metadata) as f:
        listed = [line.split(":", 1)[1].strip() for line in f if line.startswith("License-File:")]
    folder = os.path.join(package, subpath) if subpath else package
    found = [path for path in listed if os.path.dirname(path) == folder]
    if len(found) != 1:
        raise ValueError(f"{purl}: {len(found)} licence files listed in {folder}")
    return os.path.join(os.path.dirname(os.path.dirname(metadata)), found[0])


# BSI's CycloneDX property taxonomy v0.1.2: the values each property may take.
BSI_VALUES = {"bsi:component:executable": {"executable", "non-executable"},
              "bsi:component:archive": {"archive", "no archive"},
              "bsi:component:structured": {"structured", "unstructured"}}
# Domains reserved for examples and tests (RFC 2606, RFC 6761).
RESERVED = ("example", "test", "invalid", "localhost", "example.com", "example.net", "example.org")


def reaches_someone(entity):
    """The domains of an organisation's URLs and email addresses, none of them reserved."""
    domains = [url.split("/")[2] for url in entity.get("url", []) if url.startswith("https://")]
    domains += [c["email"].rsplit("@", 1)[1] for c in entity.get("contact", []) if "@" in c.get("email", "")]
    return domains and not any(d == r or d.endswith("." + r) for d in domains for r in RESERVED)


def delivered_in(comment):
    """The file a library's distribution reference names: build/distributions' wheel, apt's package."""
    name = comment.split()[3].rstrip(",")  # "the PyPI wheel NAME, ..." / "the Debian package NAME"
    for folder in (os.path.join(ROOT, "build", "distributions"), "/var/cache/apt/archives"):
        if os.path.isfile(os.path.join(folder, name)):
            return os.path.join(folder, name)
    return None


def tr_fields(name, files, cyclonedx):
    """What BSI TR-03183-2 v2.1.0 asks of the CycloneDX document, read independently of the code that wrote
    it: the SBOM's creator, time, serial number, tool and phase; for each component its creator and supplier,
    version, concluded licence, identifier, BSI's properties, a SHA-512 recomputed from the bytes it names; and
    the dependency graph and its completeness."""
    publisher = {k: v for k, v in (line.split("=", 1) for line in open(os.path.join(ROOT, "publisher.conf"))
                                   if "=" in line and not line.startswith("#"))}
    publisher = {k.strip(): v.strip() for k, v in publisher.items()}
    metadata = cyclonedx["metadata"]
    maker = metadata.get("manufacturer", {})
    contact = ([publisher["url"]] if publisher.get("url") else [],
               [{"email": publisher["email"]}] if publisher.get("email") else [])
    check(f"{name}: the SBOM's creator is publisher.conf's publisher, with its contact",
          maker.get("name") == publisher["name"] and (maker.get("url", []), maker.get("contact", [])) == contact,
          (maker, publisher))
    if contact != ([], []):
        check(f"{name}: the publisher's contact reaches someone", reaches_someone(maker), maker)
    tools = metadata.get("tools", {}).get("components", [])
    check(f"{name}: time in UTC, serial number, generating tool and its version, lifecycle phase",
          metadata.get("timestamp", "").endswith("Z") and cyclonedx.get("serialNumber", "").startswith("urn:uuid:")
          and tools and all(t.get("name") and t.get("version") for t in tools)
          and metadata.get("lifecycles") == [{"phase": "build"}], metadata)
    product = metadata["component"]
    everything = [product] + cyclonedx["components"]
    for component in everything:
        label = f"{name} {component['name']}"
        ours = component["type"] != "library"
        for role in ("manufacturer", "supplier"):
            entity = component.get(role, {})
            check(f"{label}: its {role}", entity.get("name") and (entity == maker if ours else reaches_someone(entity)),
                  entity)
        licences = component.get("licenses", [])
        check(f"{label}: version, identifier, one concluded licence",
              component.get("version") and component.get("purl", "").startswith("pkg:") and len(licences) == 1
              and licences[0].get("acknowledgement") == "concluded" and licences[0].get("expression"),
              (component.get("version"), component.get("purl"), licences))
        properties = [(p["name"], p["value"]) for p in component.get("properties", [])]
        kinds = {k: [v for n, v in properties if n == k] for k in BSI_VALUES}
        check(f"{label}: BSI's executable, archive and structured properties, each once, with their values",
              all(len(values) == 1 and values[0] in BSI_VALUES[k] for k, values in kinds.items()), properties)
        if component["type"] == "file":
            check(f"{label}: its file name; a program is executable, no archive",
                  [v for n, v in properties if n == "bsi:component:filename"] == [component["name"]] and
                  (kinds["bsi:component:executable"], kinds["bsi:component:archive"]) ==
                  ((["executable"], ["no archive"]) if component["name"].endswith(".exe") else
                   (["non-executable"], ["no archive"])), properties)
        if component["type"] == "library":
            reference, = [r for r in component.get("externalReferences", []) if r["type"] == "distribution"]
            path = delivered_in(reference.get("comment", ""))
            digest = hashlib.sha512(open(path, "rb").read()).hexdigest() if path else None
            check(f"{label}: the SHA-512 of the bytes it came in, recomputed from {path}",
                  digest and component.get("hashes") == reference.get("hashes") ==
                  [{"alg": "SHA-512", "content": digest}], (reference, digest))
    refs = {c["bom-ref"] for c in everything}
    graph = {d["ref"] for d in cyclonedx.get("dependencies", [])}
    stated = {ref for c in cyclonedx.get("compositions", []) if c.get("aggregate")
              for ref in c.get("assemblies", []) + c.get("dependencies", [])}
    check(f"{name}: every component in the dependency graph, its completeness stated",
          refs <= graph and refs <= stated, (refs - graph, refs - stated))


def ossbomer(name, path, signed):
    """ossbomer's reading of the TR and of the CRA on every document, and of CISA's 2026 minimum elements (the
    author's signature among them) on the signed release's, with no MUST finding."""
    profiles = ["bsi-tr-03183-v2.1", "eu-cra-annex-i"] + (["cisa-2026-min"] if signed else [])
    for profile in profiles:
        result = subprocess.run([os.path.join(TOOLS, "ossbomer"), "validate", "--profile", profile, "--file", path,
                                 "--format", "json"], capture_output=True, text=True)
        try:
            findings = json.loads(result.stdout)["results"][0]["findings"]
        except (ValueError, KeyError, IndexError):
            findings = None
        musts = [f"{f['rule_id']} at {f['path']}: {f['message']}" for f in findings or []
                 if f["severity"] in ("MUST", "MUST_WHERE_AVAILABLE") and f["verdict"] != "PASS"]
        check(f"{name}: ossbomer {profile}: no MUST finding", findings is not None and not musts,
              musts[:5] or result.stderr[-300:])


def check_zip(zip_path, beside, signed):
    name = os.path.basename(zip_path)
    arch = next(a for a in release_description.ARCHES if f"-windows-{a}" in name)
    with zipfile.ZipFile(zip_path) as archive:
        files, _ = release_zip.members(archive)
    spdx_name, cyclonedx_name = release_description.sbom_names(arch)
    for document in (spdx_name, cyclonedx_name):
        with open(os.path.join(beside, document), "rb") as f:
            check(f"{name}: {document} is the one beside it", f.read() == files.get(document))
    spdx, cyclonedx = json.loads(files.pop(spdx_name)), json.loads(files[cyclonedx_name])
    validators(name, os.path.join(beside, spdx_name), files.pop(cyclonedx_name))
    del files["SHA256SUMS"]
    described_files(name, files, spdx, cyclonedx)
    components_hold(name, files, spdx, cyclonedx)
    licences_hold(name, files, spdx, cyclonedx)
    verification_code(name, files, spdx)
    purls_hold(name, arch, spdx, cyclonedx)
    tr_fields(name, files, cyclonedx)
    ossbomer(name, os.path.join(beside, cyclonedx_name), signed)
    llvm_runtimes_hold(name, arch, spdx, cyclonedx)
    return spdx["documentNamespace"], cyclonedx["serialNumber"]


def publishers(work):
    """publisher.conf's contact goes into every manufacturer; a placeholder domain stops the build."""
    build = os.path.join(ROOT, "build", "windows-{arch}")
    for contact, refused in (("email = releases@debian.org", None),
                             ("url = https://www.example.org/korvel", "is at a placeholder domain"),
                             ("email = someone@lab.test", "is at a placeholder domain"),
                             ("url = http://www.debian.org", "is not an https URL")):
        conf, out = os.path.join(work, "publisher.conf"), os.path.join(work, "dist")
        with open(conf, "w") as f:
            f.write(f"name = another publisher\n{contact}\n")
        shutil.rmtree(out, ignore_errors=True)
        shutil.copytree(os.path.join(ROOT, "dist"), out, ignore=shutil.ignore_patterns("*.zip", "*.json", "linux"))
        result = subprocess.run([os.path.join(ROOT, "scripts", "release_zip.py"), "unsigned", out, "0" * 40, "0", build],
                                env=dict(os.environ, KORVEL_PUBLISHER=conf), capture_output=True, text=True)
        if refused:
            check(f"publisher.conf's {contact}: refused with one line", result.returncode == 1 and
                  refused in result.stderr and len(result.stderr.splitlines()) == 1 and
                  not os.path.exists(os.path.join(out, release_description.sbom_names("x64")[1])), result.stderr)
            continue
        with open(os.path.join(out, release_description.sbom_names("x64")[1])) as f:
            components = json.load(f)["components"]
        ours = [c["manufacturer"] for c in components if c["type"] == "file"]
        check(f"publisher.conf's {contact}: every file's manufacturer", result.returncode == 0 and ours and all(
            m == {"name": "another publisher", "contact": [{"email": "releases@debian.org"}]} for m in ours), ours)


def main():
    dist = os.path.join(ROOT, "dist")
    with tempfile.TemporaryDirectory() as work:
        pki, release = os.path.join(work, "pki"), os.path.join(work, "release")
        subprocess.run([os.path.join(ROOT, "tests", "release", "throwaway_pki.sh"), pki], check=True)
        subprocess.run([os.path.join(ROOT, "scripts", "sign-release.sh"), "--pkcs12", f"{pki}/leaf.p12",
                        "--password-file", f"{pki}/password", "--out", release], check=True, stdout=subprocess.DEVNULL)
        identities = [check_zip(os.path.join(folder, release_description.zip_name(arch, signed)), folder, signed)
                      for arch in release_description.ARCHES for folder, signed in ((dist, False), (release, True))]
        publishers(work)
    for kind, found in zip(("SPDX namespaces", "CycloneDX serial numbers"), zip(*identities)):
        check(f"every document has its own {kind}", len(set(found)) == len(found) == 2 * len(release_description.ARCHES), found)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
