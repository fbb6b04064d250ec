#!/usr/bin/env bash
# The window program as a Windows user meets it, under Wine on an Xvfb display with Qt's windows
# platform, and its setup program:
#
#   1. kvd-diag.exe --demo comes up and its panes move (two screenshots differ);
#   2. a second kvd-diag.exe started meanwhile only says that one copy runs (the named mutexes);
#   3. a graceful close (taskkill without /F) ends it, and the registry then holds the window
#      bounds, the pane settings and the data sets under the program's keys;
#   4. kvd-diag.exe --port 5 against a Linux kvd-ecu-sim through Wine's COM5 goes ON-LINE and
#      records (the trace and the recovery file grow);
#   5. the setup program installs silently, the installed program starts, and the uninstaller
#      takes the files, the Start-menu entry and the uninstall entry away again.
#
#   tools/windows-gui-test.sh WIN_BUILD LINUX_BUILD
#
# Called by tools/windows-test.sh, which sets up the Wine prefix (WINEPREFIX) and names the wine
# program in KVD_WINE. Screenshots and logs stay in WIN_BUILD/window-test/.
# SPDX-License-Identifier: GPL-3.0-or-later
set -euo pipefail
cd "$(dirname "$0")/.."

win_build=$1
linux_build=$2
wine=${KVD_WINE:-wine}
out=$win_build/window-test
com=5
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"

for tool in Xvfb xdotool import compare cpack makensis; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: tools/setup.sh test installs it (apt-get install xvfb xdotool" \
      "imagemagick nsis)" >&2
    exit 1
  }
done
[ -f "$win_build/kvd-diag.exe" ] || { echo "$win_build/kvd-diag.exe is missing" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"

xvfb_pid="" sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -f "$WINEPREFIX/dosdevices/com$com"
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
}
trap cleanup EXIT

shot() { import -window root "$out/$1.png" 2>/dev/null || true; }
fail() {
  echo "window test FAILED: $*" >&2
  shot failure
  echo "(screenshot: $out/failure.png)" >&2
  exit 1
}

# A display of its own; -displayfd reports the number once the server is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$out/display" ] && break
  sleep 0.1
done
[ -s "$out/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$out/display")

# Wine's desktop process picks the window system driver for every program of the prefix: it is
# started again here, now with a display.
wineserver -k 2>/dev/null || true
# Its own messages (an object dump when a client goes away uncleanly) go to a log.
wineserver -p >>"$out/wineserver.log" 2>&1
"$wine" wineboot </dev/null >/dev/null 2>&1 || true

# The visible windows whose title matches a regular expression, oldest first.
windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
wait_window() {  # wait_window REGEX SECONDS [COUNT]
  local i
  for i in $(seq $(($2 * 5))); do
    [ "$(windows "$1" | wc -l)" -ge "${3:-1}" ] && return 0
    sleep 0.2
  done
  fail "no window '$1' after $2 s"
}
wait_gone() {  # wait_gone PID SECONDS: true when the process ended within the time
  local i
  for i in $(seq $(($2 * 5))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}
# Clicks at x, y inside the client area of a window whose client area is CW x CH pixels: the
# frame Wine draws around it is what the X window has more.
click_client() {  # click_client WINDOW CW CH X Y
  local geo wx wy ww wh border top
  geo=$(xdotool getwindowgeometry --shell "$1")
  wx=$(sed -n 's/^X=//p' <<<"$geo")
  wy=$(sed -n 's/^Y=//p' <<<"$geo")
  ww=$(sed -n 's/^WIDTH=//p' <<<"$geo")
  wh=$(sed -n 's/^HEIGHT=//p' <<<"$geo")
  border=$(((ww - $2) / 2))
  top=$((wh - $3 - border))
  xdotool mousemove $((wx + border + $4)) $((wy + top + $5)) click 1
}
# One taskkill without /F, as Windows closes a program: WM_CLOSE to each of its windows. The
# diagnostic window asks whether to save the recording: the answer is "Нет" (Tab from the
# default "Да", then space). The launcher, which the diagnostic window blocked when its WM_CLOSE
# came, closes after it: no second taskkill.
graceful_close() {  # graceful_close PID NAME
  local i box next=5
  "$wine" taskkill /IM kvd-diag.exe >>"$out/$2-taskkill.log" 2>&1 || true
  for i in $(seq 100); do
    kill -0 "$1" 2>/dev/null || return 0
    # The question has the diagnostic window's title; it is the newer of the two. A key that
    # went to a box not yet ready is given again two seconds later.
    box=$(windows 'VS-5\.1' | tail -n +2 | tail -n1)
    if [ -n "$box" ] && [ "$i" -ge "$next" ]; then
      shot "$2-close-question"
      xdotool windowfocus --sync "$box" 2>/dev/null || true
      xdotool key --clearmodifiers Tab space
      next=$((i + 10))
    fi
    sleep 0.2
  done
  fail "kvd-diag.exe ($2) did not end after one taskkill"
}

recovery_dirs() { ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local/KVD-Software 2>/dev/null || true; }
# A fresh user: no settings yet, no recording left behind.
"$wine" reg delete 'HKCU\Software\KVD-Software' /f >/dev/null 2>&1 || true
recovery_dirs | while read -r d; do rm -rf "$d"; done

echo "-- kvd-diag.exe --demo on the windows platform"
"$wine" "$win_build/kvd-diag.exe" --demo >"$out/demo.log" 2>&1 &
demo=$!
wait_window '^KVD - Diagnostics ver' 60
wait_window 'VS-5\.1' 60
sleep 5
shot demo-1
sleep 2
shot demo-2
changed=$(compare -metric AE "$out/demo-1.png" "$out/demo-2.png" null: 2>&1 || true)
echo "pixels changed between the two screenshots: $changed"
[ "${changed%% *}" -gt 200 ] 2>/dev/null || fail "the panes do not move (changed pixels: $changed)"

echo "-- a second kvd-diag.exe while the first runs"
"$wine" "$win_build/kvd-diag.exe" >"$out/second.log" 2>&1 &
second=$!
wait_window '^KVD - Diagnostics$' 60
shot second-copy
[ "$(windows '^KVD - Diagnostics ver' | wc -l)" -eq 1 ] || fail "a second launcher opened"
box=$(windows '^KVD - Diagnostics$' | tail -n1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
wait_gone "$second" 20 || fail "the second copy did not end after its message"
second_rc=0
wait "$second" || second_rc=$?
[ "$second_rc" -eq 0 ] || fail "the second copy ended with $second_rc"
kill -0 "$demo" 2>/dev/null || fail "the first copy ended with the second"

echo "-- graceful close (taskkill /IM kvd-diag.exe)"
graceful_close "$demo" demo
wait "$demo" || fail "kvd-diag.exe --demo ended with $?"

echo "-- the registry"
reg_values() { "$wine" reg query "$1" 2>/dev/null | tr -d '\r' | awk '$2 ~ /^REG_/ {print $1}'; }
main_key='HKCU\Software\KVD-Software\KVD-Diag'
values=$(reg_values "$main_key")
for name in DiagWindowLeft DiagWindowTop DiagWindowWidth DiagWindowHeight DiagColorScheme \
            DiagLineWidth; do
  grep -qx "$name" <<<"$values" || fail "$main_key has no value $name"
done
sets=$(reg_values "$main_key\\Janvar5_E2")
for name in DiagSetName1 DiagSetIdx1-1 DiagSetOpt1-1 DiagSetName10; do
  grep -qx "$name" <<<"$sets" || fail "$main_key\\Janvar5_E2 has no value $name"
done
"$wine" reg query "$main_key" 2>/dev/null | tr -d '\r' | grep -E 'DiagWindow' | sed 's/^ */   /'
echo "   $main_key\\Janvar5_E2: $(wc -l <<<"$sets") values"

echo "-- kvd-diag.exe --port $com against the Linux kvd-ecu-sim"
sim_out=$out/sim.txt
"$linux_build/kvd-ecu-sim" >"$sim_out" &
sim_pid=$!
pty=""
for _ in $(seq 50); do
  pty=$(head -n1 "$sim_out")
  [ -n "$pty" ] && break
  sleep 0.1
done
[ -n "$pty" ] || fail "kvd-ecu-sim printed no pseudo-terminal"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"
recovery_dirs | while read -r d; do rm -rf "$d"; done
"$wine" "$win_build/kvd-diag.exe" --port $com --trace "$out/com$com-trace.txt" >"$out/com.log" 2>&1 &
port_run=$!
wait_window "^KVD - Diagnostics ver.*COM$com" 60
launcher=$(windows "^KVD - Diagnostics ver.*COM$com" | head -n1)
sleep 1
# The launcher is 534 x 381 pixels: "Выбор ЭБУ" at (16, 110), 244 x 96, opens the family menu,
# whose second entry is the diagnosable family (Down, Down, Enter); the start button is at
# (274, 110).
click_client "$launcher" 534 381 138 158
sleep 1
xdotool key --clearmodifiers Down Down Return
sleep 1
click_client "$launcher" 534 381 396 158
wait_window 'VS-5\.1' 60
sleep 6
shot com-online
ok_before=$(grep -c ' RESULT 0 ' "$out/com$com-trace.txt" || true)
size_before=$(find "$WINEPREFIX"/drive_c/users/*/AppData/Local/KVD-Software -type f -printf '%s\n' \
  2>/dev/null | sort -n | tail -n1)
sleep 3
ok_after=$(grep -c ' RESULT 0 ' "$out/com$com-trace.txt" || true)
size_after=$(find "$WINEPREFIX"/drive_c/users/*/AppData/Local/KVD-Software -type f -printf '%s\n' \
  2>/dev/null | sort -n | tail -n1)
echo "answered requests: $ok_before, 3 s later $ok_after; recovery file: ${size_before:-none}," \
  "3 s later ${size_after:-none} bytes"
[ "${ok_after:-0}" -gt "${ok_before:-0}" ] && [ "${ok_before:-0}" -ge 5 ] ||
  fail "no data exchange through COM$com (trace: $out/com$com-trace.txt)"
[ "${size_after:-0}" -gt "${size_before:-0}" ] || fail "nothing recorded through COM$com"
graceful_close "$port_run" com
wait "$port_run" || fail "kvd-diag.exe --port $com ended with $?"
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

echo "-- the setup program"
(cd "$win_build" && cpack -G NSIS >"$PWD/window-test/cpack.log" 2>&1) ||
  { cat "$out/cpack.log"; fail "cpack -G NSIS failed"; }
setup=$(ls "$win_build"/kvd-diag-*-setup-x64.exe | head -n1)
prefix_c=$WINEPREFIX/drive_c
install_dir="$prefix_c/Program Files/KVD-Diag"
menu_dir="$prefix_c/ProgramData/Microsoft/Windows/Start Menu/Programs/KVD-Diag"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KVD-Diag'
installed=(kvd-diag.exe kvd-cli.exe kvd-ecu-sim.exe kvddiag.ini LICENSE.txt
           NOTICE.trouble-codes.txt Uninstall.exe)
uninstall_entry() { "$wine" reg query "$uninstall_key" /reg:64 2>/dev/null | tr -d '\r' | grep -c DisplayName || true; }

# A clean machine: an earlier run that failed half-way may have left an installation behind,
# which the setup program would first try to uninstall (with a message box if that fails).
"$wine" reg delete "$uninstall_key" /reg:64 /f >/dev/null 2>&1 || true
rm -rf "$install_dir" "$menu_dir"
# A setup program that stops at a question must not hang the run.
timeout 180 "$wine" "$setup" /S >"$out/setup.log" 2>&1 || fail "the setup program failed"
for f in "${installed[@]}"; do
  [ -f "$install_dir/$f" ] || fail "the setup program did not install $f"
done
[ -f "$menu_dir/KVD-Diagnostics.lnk" ] || fail "no Start-menu entry KVD-Diagnostics"
[ "$(uninstall_entry)" -ge 1 ] || fail "no uninstall entry $uninstall_key"
version=$("$wine" 'C:\Program Files\KVD-Diag\kvd-diag.exe' --version 2>&1 | tr -d '\r')
[[ $version == "kvd-diag "* ]] || fail "the installed kvd-diag.exe --version said: $version"
echo "installed: $version, $(du -sk "$install_dir" | cut -f1) KiB in Program Files\\KVD-Diag"
"$wine" 'C:\Program Files\KVD-Diag\kvd-diag.exe' --demo >"$out/installed.log" 2>&1 &
installed_run=$!
wait_window 'VS-5\.1' 60
sleep 3
shot installed
graceful_close "$installed_run" installed
wait "$installed_run" || true

timeout 180 "$wine" "$install_dir/Uninstall.exe" /S >"$out/uninstall.log" 2>&1 ||
  fail "the uninstaller failed"
# The uninstaller goes on from a copy of itself in the temporary folder.
for _ in $(seq 120); do
  [ ! -e "$install_dir" ] && [ "$(uninstall_entry)" -eq 0 ] && break
  sleep 0.5
done
[ ! -e "$install_dir" ] || fail "the uninstaller left $(ls "$install_dir" | tr '\n' ' ')"
[ ! -e "$menu_dir" ] || fail "the uninstaller left the Start-menu folder"
[ "$(uninstall_entry)" -eq 0 ] || fail "the uninstaller left $uninstall_key"
echo "setup program: $(basename "$setup"), $(du -k "$setup" | cut -f1) KiB; installed and removed"
echo "window test passed (screenshots in $out)"
