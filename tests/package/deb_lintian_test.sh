#!/usr/bin/env bash
# lintian finds no error in the Debian package; its overrides carry their reasons.
set -euo pipefail
deb=$1
[ "$(id -u)" = 0 ] || { echo "package tests need root; skipped"; exit 77; }
[ -f "$deb" ] || { echo "no $deb: build it with scripts/package" >&2; exit 1; }
lintian --fail-on error "$deb"
