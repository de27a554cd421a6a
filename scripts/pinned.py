"""The project's virtual environment of pinned PyPI tools (scripts/python-tools.txt),
and its libraries for the release scripts, which run on Debian's python3 of
the same version (Debian's pefile needs it)."""
import glob
import os
import sys


def python_tools():
    """KORVEL_PYTHON_TOOLS, else the checkout's build/python-tools."""
    return os.path.abspath(os.environ.get("KORVEL_PYTHON_TOOLS") or
                           os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python-tools"))


def use_libraries():
    """The venv's site-packages, after Debian's own, on the module path."""
    for site in glob.glob(os.path.join(python_tools(), "lib", f"python{sys.version_info[0]}.{sys.version_info[1]}",
                                       "site-packages")):
        if site not in sys.path:
            sys.path.append(site)
