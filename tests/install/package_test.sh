#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks its control data and contents: the
# Qt 6 runtime packages among the dependencies, the programs, desktop entry, icon and manual
# pages inside, the programs hardened. Arguments: build folder, cpack, prefix, hardening
# (full, guard or off). Exit 0 = good, 1 = a fault, 77 = no Debian tools here (reason printed).
set -u
build=$1 cpack=$2 prefix=$3 hardening=${4:-off}

command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is missing (Debian package dpkg)"; exit 77; }
[ -x "$cpack" ] || { echo "SKIPPED: cpack not found at $cpack"; exit 77; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kvd-package-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

if ! (cd "$build" && "$cpack" -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1); then
  cat "$tmp/cpack.log"; echo "FAULT: cpack -G DEB failed"; exit 1
fi
shopt -s nullglob
debs=("$tmp"/kvd-diag_*.deb)
[ ${#debs[@]} -eq 1 ] || { ls -l "$tmp"; echo "FAULT: no single kvd-diag_*.deb"; exit 1; }
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = "kvd-diag" ] || fault "package name is not kvd-diag"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fault "$dep is not among the dependencies"
done

description=$(dpkg-deb -f "$deb" Description)
grep -q "K-line" <<<"$description" || fault "the description is missing: $description"
grep -q "^ *;" <<<"$description" && fault "the description's lines begin with ';': $description"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for f in bin/kvd-diag bin/kvd-cli bin/kvd-ecu-sim share/applications/kvd-diag.desktop \
         share/icons/hicolor/48x48/apps/kvd-diag.png share/doc/kvd-diag/LICENSE \
         share/doc/kvd-diag/60-kvd-diag-kline.rules share/doc/kvd-diag/copyright; do
  grep -qx "\.$prefix/$f" <<<"$contents" || fault "the package does not hold $prefix/$f"
done
grep -q "/kvd-diag/kvddiag.ini$" <<<"$contents" || fault "the package does not hold kvddiag.ini"
if [ -n "$(find "$build/man" -name '*.1' 2>/dev/null)" ]; then
  grep -q "/man1/kvd-diag.1" <<<"$contents" || fault "the package does not hold kvd-diag.1"
fi
# The ini file is a conffile: an upgrade keeps the administrator's changes.
mkdir "$tmp/control"
dpkg-deb -e "$deb" "$tmp/control"
grep -q "/kvd-diag/kvddiag.ini$" "$tmp/control/conffiles" 2>/dev/null ||
  fault "kvddiag.ini is not a conffile"
# Programs are stripped: a package with the debug information would be ten times the size.
mkdir "$tmp/root"
dpkg-deb -x "$deb" "$tmp/root"
if command -v file >/dev/null; then
  file "$tmp/root$prefix/bin/kvd-diag" | grep -q "not stripped" && fault "kvd-diag is not stripped"
fi

# Hardened as distributions build: relocations read-only and bound at start, a stack guard, and
# in an optimised build the checked buffer functions.
if [ "$hardening" != off ] && command -v readelf >/dev/null; then
  for p in kvd-diag kvd-cli kvd-ecu-sim; do
    bin="$tmp/root$prefix/bin/$p"
    readelf -lW "$bin" | grep -q GNU_RELRO || fault "$p has no read-only relocations"
    readelf -dW "$bin" | grep -qE "BIND_NOW|FLAGS_1.* NOW" || fault "$p binds its symbols lazily"
    readelf --dyn-syms -W "$bin" | grep -q "__stack_chk_fail" || fault "$p has no stack guard"
  done
  if [ "$hardening" = full ]; then
    readelf --dyn-syms -W "$tmp/root$prefix/bin/kvd-cli" | grep -q "_chk@" ||
      fault "kvd-cli calls no checked buffer function"
  fi
fi

# Debian's own checker, where it is installed (a developer's machine: the test does not need it),
# on a package for /usr (tools/setup.sh package); one for /usr/local breaks Debian's layout by
# design. The maintainer address is a placeholder until the package has a real one.
if [ "$prefix" != /usr ]; then
  echo "the package is for $prefix: Debian's checks were not run (they need a build for /usr)"
elif command -v lintian >/dev/null; then
  lintian --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog "$deb" \
    >"$tmp/lintian.log" 2>&1
  if grep -qE "^[EW]: " "$tmp/lintian.log"; then
    grep -E "^[EW]: " "$tmp/lintian.log" | while IFS= read -r l; do echo "FAULT: lintian: $l"; done
    faults=$((faults + 1))
  fi
else
  echo "lintian is not installed: Debian's checks were not run (Debian package lintian)"
fi

if [ $faults -gt 0 ]; then echo "$faults fault(s)"; exit 1; fi
echo "package $(basename "$deb") complete ($(stat -c %s "$deb") bytes)"
