#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it the way Debian does: lintian
# must report no error and no warning, the menu entry must pass desktop-file-validate. Then
# checks what those tools do not: each program's manual page says what the program is for,
# korvane-cli's page lists every command its --help lists, the copyright file is in the
# machine-readable format, the changelog's top entry is the package's version, the licence
# texts are there, and every installed program reports that version.
#
#   scripts/check-package.sh BUILD_DIR [CPACK]
#
# Exits 77 (a skip for CTest) with a message when a tool it needs is not installed.
set -euo pipefail

build=$(cd "${1:?usage: check-package.sh BUILD_DIR [CPACK]}" && pwd)
cpack=${2:-cpack}

for tool in "$cpack" dpkg-deb lintian desktop-file-validate; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done
if ! ls "$build"/man/*.1.gz >/dev/null 2>&1; then
  echo "SKIP: the build made no manual pages (help2man is not installed; scripts/install-deps.sh installs it)"
  exit 77
fi

out=$build/package-check
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && "$cpack" -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
  cat "$out/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
}
debs=("$out"/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "FAIL: cpack made no .deb"; exit 1; }
echo "package: $(basename "$deb")"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "== lintian"
# Info-level notes (-I) are shown but only errors and warnings fail the check.
lintian_rc=0
lintian -I --fail-on error,warning "$deb" >"$out/lintian.log" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$out/lintian.log" || true
[ "$lintian_rc" -eq 0 ] || fail "lintian reports an error or a warning (exit status $lintian_rc)"

root=$out/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)

echo "== desktop-file-validate"
desktops=("$root"/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no menu entry in the package"
for d in "${desktops[@]}"; do
  [ -f "$d" ] || continue
  if desktop-file-validate "$d"; then
    echo "$(basename "$d"): valid"
  else
    fail "desktop-file-validate $(basename "$d")"
  fi
done

echo "== manual pages"
man1=$root/usr/share/man/man1
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  page=$man1/$name.1.gz
  if [ ! -f "$page" ]; then
    fail "$name has no manual page"
    continue
  fi
  roff=$(gzip -dc "$page")
  # NAME: "program \- what it is for", not help2man's stand-in "manual page for ...".
  name_line=$(printf '%s\n' "$roff" | sed -n '/^\.SH NAME/{n;p;q}')
  case "$name_line" in
    *"manual page for"* | "") fail "$name(1): NAME says nothing of the program: '$name_line'" ;;
    *' \- '*) echo "$name(1): $name_line" ;;
    *) fail "$name(1): NAME line is not 'name \\- purpose': '$name_line'" ;;
  esac
  description=$(printf '%s\n' "$roff" | sed -n '/^\.SH DESCRIPTION/{n;p;q}')
  [ -n "$description" ] || fail "$name(1) has no DESCRIPTION"
done

# Every command of korvane-cli --help is an entry of its page.
cli_page=$man1/korvane-cli.1.gz
if [ -x "$root/usr/bin/korvane-cli" ] && [ -f "$cli_page" ]; then
  commands=$("$root/usr/bin/korvane-cli" --help |
    sed -n '/^Commands:/,/^$/{/^  [a-z]/{s/^  \([a-z][a-z0-9-]*\).*/\1/;p}}')
  [ -n "$commands" ] || fail "korvane-cli --help lists no commands"
  entries=$(gzip -dc "$cli_page" | sed -n '/^\.TP/{n;p}' | sed 's/\\-/-/g')
  count=0
  for c in $commands; do
    count=$((count + 1))
    printf '%s\n' "$entries" | grep -qE "^$c( |$)" || fail "korvane-cli(1) lacks the command $c"
  done
  echo "korvane-cli(1) lists the $count commands of korvane-cli --help"
fi

echo "== copyright, changelog, licences"
doc=$root/usr/share/doc/korvane-v3
if [ -f "$doc/copyright" ]; then
  head -n 1 "$doc/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
else
  fail "no copyright file"
fi
if [ -f "$doc/changelog.gz" ]; then
  top=$(gzip -dc "$doc/changelog.gz" | head -n 1)
  case "$top" in
    "korvane-v3 ($version) "*) echo "changelog: $top" ;;
    *) fail "the changelog's top entry is not version $version: $top" ;;
  esac
else
  fail "no changelog.gz"
fi
for f in LICENSE THIRD-PARTY.md licenses/FLTK-COPYING.txt licenses/cJSON-LICENSE.txt; do
  [ -s "$doc/$f" ] || fail "no $f in /usr/share/doc/korvane-v3"
done

echo "== --version of the installed programs"
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  if ! text=$(env -u DISPLAY "$program" --version 2>&1); then
    fail "$name --version failed: $text"
    continue
  fi
  first=${text%%$'\n'*}
  if [ "$first" != "$name $version" ]; then
    fail "$name --version says '$first', the package is $version"
  else
    echo "$first"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
