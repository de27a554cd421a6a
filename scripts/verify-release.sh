#!/usr/bin/env bash
# Proves that a signed release is exactly what sign-release.sh makes from the
# build in dist/ and the publisher's key: see scripts/verify_release.py.
#
# Usage: scripts/verify-release.sh DIR [--ca FILE] [--tsa-ca FILE]
# DIR and the files are taken from the folder the script is run in.
# One line per file; exit code 0 only when everything holds.
exec /usr/bin/python3 "$(dirname "$0")/verify_release.py" "$@"
