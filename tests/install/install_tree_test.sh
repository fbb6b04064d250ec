#!/usr/bin/env bash
# Installs the build into a temporary folder (DESTDIR) and checks what a user gets: the three
# programs answer --help and --version without a display, the desktop entry is valid and its
# program and icon are there, the manual pages, the documents, the udev rule and the ini file.
# Exit 0 = all good, 1 = a fault (each printed), 77 = a check could not run (reason printed).
set -u
cmake=$1 build=$2 prefix=$3 bindir=$4 datadir=$5 mandir=$6 docdir=$7 manpages=$8 version=$9

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kvd-install-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
faults=0
skipped=""
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

if ! DESTDIR="$tmp" "$cmake" --install "$build" >"$tmp.log" 2>&1; then
  cat "$tmp.log"; rm -f "$tmp.log"
  echo "FAULT: cmake --install failed"; exit 1
fi
rm -f "$tmp.log"
root="$tmp$prefix"

# Width and height of a PNG file from its IHDR chunk, as "WxH"; empty when it is no PNG.
png_size() {
  local sig
  sig=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  [ "$sig" = "89504e470d0a1a0a" ] || return 0
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
  echo "${w}x${h}"
}

# --- The programs: on the PATH folder, answering without a display.
declare -A helpword=([kvd-diag]="--port" [kvd-cli]="live" [kvd-ecu-sim]="--device")
for p in kvd-diag kvd-cli kvd-ecu-sim; do
  exe="$root/$bindir/$p"
  if [ ! -x "$exe" ]; then fault "$bindir/$p is not installed"; continue; fi
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$exe" --version 2>&1)
  rc=$?
  [ $rc -eq 0 ] && [ "$out" = "$p $version" ] || fault "$p --version gave rc $rc: '$out'"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$exe" --help 2>&1)
  rc=$?
  [ $rc -eq 0 ] && grep -q -- "${helpword[$p]}" <<<"$out" && grep -qi "usage" <<<"$out" ||
    fault "$p --help gave rc $rc without its usage and '${helpword[$p]}': $(head -c 300 <<<"$out")"
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$root/$bindir/kvd-diag" \
      --demo -platform offscreen --help 2>&1)
grep -q -- "--demo" <<<"$out" || fault "kvd-diag --help among other options did not answer: $out"

# --- The desktop entry, its program and its icon.
desktop="$root/$datadir/applications/kvd-diag.desktop"
if [ ! -f "$desktop" ]; then
  fault "$datadir/applications/kvd-diag.desktop is not installed"
else
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fault "desktop-file-validate: $out"
    # Errors make it fail; warnings are faults here too.
    grep -q "warning" <<<"$out" && fault "desktop-file-validate warns: $out"
  else
    skipped+=" desktop-file-validate is missing (Debian package desktop-file-utils);"
  fi
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/$bindir/$exec_name" ] || fault "the desktop entry starts '$exec_name', not installed"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  for size in 16 24 32 48 64 128 256; do
    png="$root/$datadir/icons/hicolor/${size}x${size}/apps/$icon.png"
    if [ ! -f "$png" ]; then fault "icon $icon missing at ${size}x${size}"; continue; fi
    got=$(png_size "$png")
    [ "$got" = "${size}x${size}" ] || fault "icon ${size}x${size} is a '${got:-not a PNG}' picture"
  done
fi

# --- Manual pages.
if [ "$manpages" = "ON" ]; then
  declare -A manword=([kvd-diag]='\\-\\-demo' [kvd-cli]='live' [kvd-ecu-sim]='\\-\\-device')
  for p in kvd-diag kvd-cli kvd-ecu-sim; do
    # Compressed where gzip was found at the build, as Debian's layout has them.
    page="$root/$mandir/man1/$p.1.gz"
    [ -f "$page" ] || page="$root/$mandir/man1/$p.1"
    if [ ! -f "$page" ]; then fault "manual page $mandir/man1/$p.1 is missing"; continue; fi
    text=$(zcat -f "$page")
    grep -q "^\.TH \"\?${p^^}\"\? \"\?1\"\?" <<<"$text" || fault "$p.1 has no .TH header of section 1"
    grep -q "${manword[$p]}" <<<"$text" || fault "$p.1 does not describe ${manword[$p]}"
    grep -q "$version" <<<"$text" || fault "$p.1 does not name version $version"
    # The programs' Russian texts come through as UTF-8, not as question marks.
    grep -q '???' <<<"$text" && fault "$p.1 lost its non-ASCII text: $(grep -m1 '???' <<<"$text")"
    [ "$p" = kvd-diag ] && { grep -q "kvddiag.ini" <<<"$text" || fault "kvd-diag.1 has no FILES section"; }
  done
else
  skipped+=" help2man is missing, no manual pages were made (Debian package help2man);"
fi

# --- Documents: the licence and copyright, the changelog, the trouble-code credits, the udev rule.
for f in LICENSE copyright NOTICE.trouble-codes README.md 60-kvd-diag-kline.rules; do
  [ -s "$root/$docdir/$f" ] || fault "$docdir/$f is not installed"
done
[ -s "$root/$docdir/changelog.gz" ] || [ -s "$root/$docdir/changelog" ] ||
  fault "$docdir/changelog is not installed"
zcat -f "$root/$docdir/changelog"* 2>/dev/null | head -1 | grep -q "^kvd-diag ($version)" ||
  fault "the changelog does not begin with version $version"
grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  "$root/$docdir/copyright" 2>/dev/null || fault "copyright is not in Debian's machine-readable form"
grep -q "GNU GENERAL PUBLIC LICENSE" "$root/$docdir/LICENSE" 2>/dev/null || fault "LICENSE is no GPL"
rules="$root/$docdir/60-kvd-diag-kline.rules"
if [ -f "$rules" ]; then
  # Every rule line: comma-separated KEY op "value" pairs, as udev reads them.
  pair='[A-Z_]+(\{[A-Za-z0-9_]+\})?(==|!=|=|\+=|:=)"[^"]*"'
  while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    [[ "$line" =~ ^$pair(,\ *$pair)*$ ]] || fault "udev rule line is malformed: $line"
  done <"$rules"
  grep -q 'DRIVER=="ftdi_sio".*ATTR{latency_timer}="1"' "$rules" || fault "no latency rule"
  grep -q 'ATTRS{idVendor}=="0403".*GROUP="dialout".*MODE="0660"' "$rules" || fault "no group rule"
fi

# --- The system-wide ini file with the defaults.
ini=$(find "$tmp" -path '*/kvd-diag/kvddiag.ini' | head -n1)
if [ -z "$ini" ]; then
  fault "kvd-diag/kvddiag.ini is not installed"
else
  grep -q '^J5E2_RFRSH=250' "$ini" && grep -q '^ComThreaded=0' "$ini" ||
    fault "the installed ini file does not hold the defaults"
fi

if [ $faults -gt 0 ]; then echo "$faults fault(s)"; exit 1; fi
if [ -n "$skipped" ]; then echo "SKIPPED:$skipped"; exit 77; fi
echo "installed tree complete"
