#!/usr/bin/env bash
# Installs the build three times into a temporary directory, whole and one component at a time
# (the two Debian packages are made from the components), and checks:
# - every file of the whole installation is in exactly one component: a file without one would be
#   in neither package, a file in both would stop the second package from installing;
# - every program has its manual page;
# - the pkg-config file names the prefix of the installation it came with, where the library and
#   the headers are, not the prefix the build was configured with.
#
#   install_components.sh BUILD_DIR
set -euo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The files and links of an installation, relative to its prefix, one a line, sorted.
install_list() {
  local prefix=$work/$1
  shift
  cmake --install "$build" --prefix "$prefix" "$@" >/dev/null
  (cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}
install_list all >"$work/all.txt"
install_list tools --component tools >"$work/tools.txt"
install_list development --component development >"$work/development.txt"

while read -r file; do
  fail "in both components: $file"
done < <(LC_ALL=C comm -12 "$work/tools.txt" "$work/development.txt")
while read -r file; do
  fail "in no component, so in neither package: $file"
done < <(LC_ALL=C sort -u "$work/tools.txt" "$work/development.txt" | LC_ALL=C comm -23 "$work/all.txt" -)

while read -r program; do
  grep -qx "share/man/man1/${program#bin/}.1.gz" "$work/all.txt" ||
    fail "no manual page for $program"
done < <(grep '^bin/' "$work/all.txt")

prefix=$work/development
pc=$(grep '/pkgconfig/fluxtrim\.pc$' "$work/development.txt" || true)
if [[ -z "$pc" ]]; then
  fail "no pkg-config file in the development component"
else
  libdir=$prefix/${pc%/pkgconfig/fluxtrim.pc}
  flags=$(PKG_CONFIG_LIBDIR=$prefix/${pc%/fluxtrim.pc} pkg-config --cflags --libs fluxtrim)
  [[ " $flags " == *" -I$prefix/include "* ]] || fail "pkg-config --cflags: '$flags', not $prefix/include"
  [[ " $flags " == *" -L$libdir "* ]] || fail "pkg-config --libs: '$flags', not $libdir"
  [[ -f "$libdir/libfluxtrim.a" ]] || fail "no libfluxtrim.a in $libdir"
  [[ -f "$prefix/include/fluxtrim/fluxtrim.hpp" ]] || fail "no fluxtrim/fluxtrim.hpp in $prefix/include"
fi

if ((failures > 0)); then
  exit 1
fi
echo "$(wc -l <"$work/all.txt") files, each in one component; pkg-config names the installation"
