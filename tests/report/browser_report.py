#!/usr/bin/python3
"""korvel-report's pages as a real browser draws them: headless Chromium
prints the built-in machine's page and two others to PDF, and pdftotext
finds in the rendered text, SVG text included, every root, every verdict
sentence and every disk label that the page holds.
Usage: browser_report.py KORVEL_REPORT"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPORT = sys.argv[1]
XHTML = "{http://www.w3.org/1999/xhtml}"
SVG = "{http://www.w3.org/2000/svg}"
MACHINES = [None, os.path.join(HERE, "machines", "uefi-esp-without-letter.json"),
            os.path.join(HERE, "machines", "disk-behind-the-gap.json")]
tally = Tally("korvel-report in a browser")


def normalised(text):
    return re.sub(r"\s+", " ", text).strip()


def chromium_pdf(page, pdf, profile):
    """As the machine's notes say a root user runs it: no sandbox, nothing fetched in the background."""
    subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    f"--user-data-dir={profile}", "--no-pdf-header-footer", f"--print-to-pdf={pdf}",
                    "file://" + page], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)


def expected_texts(page):
    """What must show: the roots, the verdict sentences, the disk labels."""
    root = ElementTree.parse(page).getroot()
    rows = [tr for tr in root.iter(f"{XHTML}tr") if "data-root" in tr.attrib]
    texts = [row.get("data-root") for row in rows]
    texts += ["".join(row.findall(f"{XHTML}td")[3].itertext()) for row in rows]
    texts += ["".join(t.itertext()) for t in root.iter(f"{SVG}text") if "".join(t.itertext()).startswith("Disk ")]
    return [normalised(text) for text in texts]


def main():
    with tempfile.TemporaryDirectory() as work:
        for machine in MACHINES:
            name = os.path.basename(machine) if machine else "built-in"
            page = os.path.join(work, f"{name}.html")
            with open(page, "wb") as f:
                subprocess.run([REPORT] + ([machine] if machine else []), stdout=f, check=True)
            pdf = os.path.join(work, f"{name}.pdf")
            try:
                chromium_pdf(page, pdf, os.path.join(work, "profile"))
            except (subprocess.SubprocessError, OSError) as error:
                tally.check(f"{name}: Chromium prints the page", False, error)
                continue
            rendered = normalised(subprocess.run(["pdftotext", pdf, "-"], stdout=subprocess.PIPE,
                                                 check=True, text=True).stdout)
            expected = expected_texts(page)
            missing = [text for text in expected if text not in rendered]
            tally.check(f"{name}: the browser draws every root, verdict and disk label ({len(expected)})",
                        expected and not missing, missing)
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
