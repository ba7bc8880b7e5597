#!/usr/bin/env bash
# scripts/demo builds first, which can take minutes: the build's progress is shown on standard
# error, and standard output keeps only what the demo itself prints. Run from a copy of the
# scripts (the demo keeps its files beside them, in build/demo), against a stand-in build (its
# cmake prints one line) and a stand-in site that starts wrong, so the demo ends right after
# its build.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root" "$work/bin" "$work/build/tools/site-simulator"
cp -r "$1/scripts" "$work/root/"
touch "$work/build/build.ninja"
printf '#!/bin/sh\necho "[1/1] Linking CXX executable tools/orvane"\n' >"$work/bin/cmake"
printf '#!/bin/sh\necho "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho "site listening on 127.0.0.1:"\n' >"$work/build/tools/site-simulator/orvane-site"
chmod +x "$work/bin/cmake" "$work/bin/dpkg-query" "$work/build/tools/site-simulator/orvane-site"

status=0
PATH="$work/bin:$PATH" ORVANE_DEMO_BUILD="$work/build" "$work/root/scripts/demo" --scene live \
    >"$work/out" 2>"$work/err" || status=$?
[ "$status" -ne 0 ] || { echo "the demo ran on without a site"; exit 1; }
grep -q 'did not start' "$work/err" || { echo "the demo stopped elsewhere:"; cat "$work/err"; exit 1; }
grep -qx '\[1/1\] Linking CXX executable tools/orvane' "$work/err" ||
    { echo "the build's progress was not shown on standard error:"; cat "$work/err"; exit 1; }
[ ! -s "$work/out" ] || { echo "the build wrote to standard output:"; cat "$work/out"; exit 1; }
