#!/usr/bin/env bash
# Installs the build into a temporary prefix, runs the installed program on
# the sample tree, and checks that the installed manual page renders without
# a warning. Usage: install.sh BUILD-DIR SOURCE-DIR
set -u
build=$1 src=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
"$prefix/bin/quorlen" "$src/examples/sample.nwk" | cmp -s - "$src/tests/golden/sample.out" ||
    { echo "the installed program's output differs"; failed=1; }
page=$prefix/share/man/man1/quorlen.1
[ -f "$page" ] || { echo "no manual page at $page"; exit 1; }
warnings=$(groff -ww -z -man "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff: $warnings"; failed=1; }
if command -v man >/dev/null; then
    rendered=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
    [ -z "$rendered" ] || { echo "man: $rendered"; failed=1; }
fi
exit $failed
