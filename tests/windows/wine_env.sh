# Sourced by the Windows test scripts: the wine of these tests, with its prefix in the build
# folder (never in the user's home), quiet, and without the Mono and Gecko installers that a
# fresh prefix would otherwise offer.
# Needs WINDOWS_BUILD (the Windows build folder) set by the caller.
export WINEPREFIX="${WINEPREFIX:-$WINDOWS_BUILD/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Creates the prefix once; later calls only wait for a prefix another test is still making.
wine_prefix_ready() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || exit 1
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
}

# A Linux path as the Windows programs see it (wine's drive Z: is the root).
winpath() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }

# The bytes of a --trace transcript in one direction (">>" sent, "<<" received), joined with
# spaces: a reply that arrived in pieces reads the same as one that came whole.
trace_bytes() { awk -v dir="$2" '$3 == dir { for (i = 4; i <= NF; i++) printf "%s ", $i }' "$1" | sed 's/ $//'; }
# Hex of the byte values first..last, as korvane-cli's write takes them ("000102...").
hex_range() { local i; for ((i = $1; i <= $2; i++)); do printf '%02x' "$i"; done; }
# The same as korvane-cli's read prints them ("00 01 02 ...").
spaced() { echo "$1" | sed 's/../& /g; s/ $//'; }
# A firmware image of whole 272-byte records in which every byte value occurs.
make_image() { perl -e 'print pack("C*", map { ($_ * 13 + int($_ / 251)) % 256 } 0 .. $ARGV[0] * 272 - 1)' "$2" >"$1"; }
# Waits up to $2 seconds for a file to hold a line matching $3.
wait_line() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do grep -q "$3" "$1" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}

# The X display of the wine GUI tests. All wine programs of one session share a desktop
# process that stays on the display the session first used, so the tests of one run share
# one display (KORVANE_WINE_DISPLAY, given by scripts/test-windows.sh). A script run on its own
# starts its own Xvfb and a fresh wine session on it. Needs PIDS (an array) and WORK set.
use_display() {
  if [ -n "${KORVANE_WINE_DISPLAY:-}" ]; then
    export DISPLAY=$KORVANE_WINE_DISPLAY
    return
  fi
  wineserver -k 2>/dev/null || true
  local n
  for n in $(seq 140 200); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  PIDS+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
}

# The visible windows of the program bigger than wine's 1x1 helpers, newest last, each with
# its width and height ("id w h"); windows that vanish meanwhile are skipped.
windows_sized() {
  local w g
  for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    g=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\)$/\1 \2/p')
    [ -n "$g" ] && [ "$g" != "1 1" ] && echo "$w $g"
  done
  return 0
}
windows() { windows_sized "$1" | cut -d' ' -f1; }
# The largest of them (the main window once it is up).
largest_window() { windows_sized "$1" | awk '$2 * $3 > a { a = $2 * $3; w = $1 } END { print w }'; }
