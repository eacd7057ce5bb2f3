#!/usr/bin/env bash
# The NSIS installer under wine: a silent install, the files where they belong (the three
# programs, ru\korvane_v3.mo beside them, the licences, the uninstaller), the Start-menu entry
# with its --user-folder argument, then korvane_v3.exe started from the installed folder the
# way that entry starts it: it must open its window in Russian, keep its preferences in
# %APPDATA%\korvane_v3 and identify a Linux korvane-sim. Last the silent uninstall, which must
# leave no program file behind. A screenshot of the installed program's window goes to
# WINDOWS_BUILD/installer/installed_ru.png.
# Usage: installer.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
LINUX_BUILD=$(cd "${1:?Linux build folder}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build folder}" && pwd)
. "$(dirname "$0")/wine_env.sh"
WORK=$WINDOWS_BUILD/installer
MAP_TIMEOUT_S=60

fail() {
  # What the screen showed, when there is a screen, to see why.
  [ -n "${DISPLAY:-}" ] && import -window root "$WORK/failure.png" 2>/dev/null
  echo "installer: $*" >&2
  exit 1
}
installer=$(ls "$WINDOWS_BUILD"/korvane-v3-*-win64.exe 2>/dev/null | head -1)
[ -n "$installer" ] || fail "no installer in $WINDOWS_BUILD (cpack -G NSIS makes it)"
for tool in Xvfb xdotool xdpyinfo import; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
wine_prefix_ready
rm -rf "$WORK"
mkdir -p "$WORK"
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null
  return 0
}
trap cleanup EXIT

C="$WINEPREFIX/drive_c"
DEST="$C/Program Files/Korvane v3"
MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvane v3"
USER_HOME="$C/users/$(id -un)"
# A clean start: an installation left by an earlier run is removed the way a user would, and
# a registry entry without its files (a run cut short) would make the installer stop.
[ -f "$DEST/Uninstall.exe" ] && wine "$DEST/Uninstall.exe" /S _?="C:\\Program Files\\Korvane v3"
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane v3' /f >/dev/null 2>&1 || true
wine reg delete 'HKLM\Software\Korvane\Korvane v3' /f >/dev/null 2>&1 || true
rm -rf "$DEST" "$MENU" "$USER_HOME/AppData/Roaming/korvane_v3"

echo "installing $(basename "$installer") silently"
wine "$installer" /S

for f in korvane_v3.exe korvane-cli.exe korvane-sim.exe ru/korvane_v3.mo README.md LICENSE.txt \
  THIRD-PARTY.md licenses/FLTK-COPYING.txt licenses/cJSON-LICENSE.txt Uninstall.exe; do
  [ -f "$DEST/$f" ] || fail "$f was not installed"
done
[ -f "$MENU/Korvane v3.lnk" ] || fail "no Start-menu entry (looked in $MENU)"
# A shell link keeps its strings in UTF-16.
strings -el "$MENU/Korvane v3.lnk" | grep -qx -- "--user-folder" ||
  fail "the Start-menu entry does not pass --user-folder"
strings -el "$MENU/Korvane v3.lnk" | grep -qF 'C:\Program Files\Korvane v3\korvane_v3.exe' ||
  fail "the Start-menu entry does not start the installed korvane_v3.exe"
(cd "$DEST" && find . -type f | sort) >"$WORK/installed.txt"
echo "installed into C:\\Program Files\\Korvane v3:"
sed 's/^/  /' "$WORK/installed.txt"
echo "Start-menu entry: C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Korvane v3\\Korvane v3.lnk"

# The installed command line works from anywhere.
version=$(cd "$WORK" && wine "$DEST/korvane-cli.exe" --help | head -1)
echo "installed korvane-cli.exe: $version"

# The installed program, as the Start-menu entry starts it.
use_display
"$LINUX_BUILD/korvane-sim" --listen 127.0.0.1:0 --board 1 --verbose >"$WORK/sim.out" 2>"$WORK/sim.err" &
PIDS+=($!)
wait_line "$WORK/sim.out" 5 listening || fail "the simulator did not start"
tcp=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$WORK/sim.out")
# The engineer's folder already holds preferences naming the simulator's port.
mkdir -p "$USER_HOME/AppData/Roaming/korvane_v3"
echo "TCPC_127.0.0.1:$tcp 4800 8 N 1 38400" >"$USER_HOME/AppData/Roaming/korvane_v3/korvane_v3.ini"

cd "$C"  # anywhere but the program's folder or the engineer's
wine "$DEST/korvane_v3.exe" --user-folder >"$WORK/app.out" 2>"$WORK/app.err" &
pid=$!
PIDS+=($pid)
end=$((SECONDS + MAP_TIMEOUT_S))
until [ -n "$(windows "$pid")" ]; do
  [ $SECONDS -ge $end ] && fail "the installed program opened no window"
  sleep 0.1
done
prompt=$(windows "$pid" | tail -1)
xdotool windowfocus --sync "$prompt" 2>/dev/null || true
xdotool key --window "$prompt" Return 2>/dev/null || true
end=$((SECONDS + MAP_TIMEOUT_S))
main=
while [ $SECONDS -lt $end ]; do
  main=$(largest_window "$pid")
  [ -n "$main" ] && [ "$main" != "$prompt" ] && break
  sleep 0.1
done
[ -n "$main" ] && [ "$main" != "$prompt" ] || fail "the main window did not appear"
sleep 4
grep -q "rx 60 01 21 BA" "$WORK/sim.err" || fail "the installed program did not identify the board"
grep -q "TRK controller v3.1" "$WORK/app.out" || fail "the identification is not in the log"
echo "installed korvane_v3.exe --user-folder: window \"$(xdotool getwindowname "$main" 2>/dev/null)\", identified \"$(grep -m1 'TRK controller' "$WORK/app.out")\""
import -window "$main" "$WORK/installed_ru.png"
kill $pid
wait $pid 2>/dev/null || true


echo "uninstalling silently"
wine "$DEST/Uninstall.exe" /S

# The uninstaller copies itself away and finishes from there, the Start menu last.
for _ in $(seq 300); do
  [ -e "$DEST/korvane_v3.exe" ] || [ -e "$MENU/Korvane v3.lnk" ] || break
  sleep 0.1
done
for f in korvane_v3.exe korvane-cli.exe korvane-sim.exe ru/korvane_v3.mo; do
  [ ! -e "$DEST/$f" ] || fail "$f is still there after the uninstall"
done
[ ! -e "$MENU/Korvane v3.lnk" ] || fail "the Start-menu entry is still there after the uninstall"
[ -f "$USER_HOME/AppData/Roaming/korvane_v3/korvane_v3.ini" ] ||
  fail "the uninstall took the engineer's preferences"
echo "uninstalled: programs and Start-menu entry gone, the engineer's preferences kept"
