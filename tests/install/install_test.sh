#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user's desktop
# and package tools see: the files' validity, the manual page, the desktop
# entry's start directory, and the Debian package unpacked and run.
# usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
for f in bin/vorla bin/vorlash share/applications/org.vorla.Vorla.desktop share/metainfo/org.vorla.Vorla.metainfo.xml \
         share/icons/hicolor/scalable/apps/vorla.svg share/icons/hicolor/48x48/apps/vorla.png \
         share/man/man1/vorla.1.gz share/man/man1/vorlash.1.gz share/doc/vorla/copyright; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
desktop=$prefix/share/applications/org.vorla.Vorla.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.vorla.Vorla.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate"
# The manual page must format without warnings and carry its sections.
man_text=$(gzip -dc "$prefix/share/man/man1/vorla.1.gz" | groff -man -ww -Tutf8 -P-cbou 2>"$scratch/groff.err")
[ -s "$scratch/groff.err" ] && fail "groff warnings: $(cat "$scratch/groff.err")"
for section in OPTIONS ENVIRONMENT FILES "TCL COMMANDS" "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$man_text" || fail "manual page lacks $section"
done

man_text=$(gzip -dc "$prefix/share/man/man1/vorlash.1.gz" | groff -man -ww -Tutf8 -P-cbou 2>"$scratch/groff.err")
[ -s "$scratch/groff.err" ] && fail "vorlash.1 groff warnings: $(cat "$scratch/groff.err")"
for section in OPTIONS "TCL COMMANDS" "PORT NAMES" ENVIRONMENT "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$man_text" || fail "vorlash.1 lacks $section"
done

# The entry's Exec line is run as a launcher would (its escapes are the
# shell's), with a stand-in vorla that reports where it was started.
mkdir -p "$scratch/home" "$scratch/stub"
printf '#!/bin/sh\necho "$PWD|$*"\n' >"$scratch/stub/vorla" && chmod +x "$scratch/stub/vorla"
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/\\\\/\\/g')
started=$(cd / && HOME=$scratch/home PATH=$scratch/stub:$PATH eval "${exec_line//%f//tmp/some log.txt}")
[ "$started" = "$scratch/home|/tmp/some log.txt" ] || fail "desktop entry started as '$started'"

# The Debian package: built from the install rules, unpacked into a scratch
# root and run from there without a display.
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null) ||
  { echo "FAIL: cpack"; exit 1; }
deb=$(ls "$scratch"/pkg/vorla_*.deb)
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "package dependencies were not computed"
dpkg -x "$deb" "$scratch/root"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/vorla" "$@"; }
[ "$(run --version)" = "vorla $(dpkg-deb -f "$deb" Version)" ] || fail "--version from the package"
run --help | grep -q '^usage: vorla' || fail "--help"
run --no-such-option >/dev/null 2>"$scratch/err"; rc=$?
[ $rc -eq 2 ] && grep -q 'unknown option --no-such-option' "$scratch/err" || fail "bad option gave $rc"
# vorlash from the package: the Tcl library found, the version, a status.
out=$(echo 'puts [GetVorlaVersion]; exit 3' | env -u DISPLAY "$scratch/root/usr/bin/vorlash" 2>"$scratch/err"); rc=$?
[ $rc -eq 3 ] && [ "$out" = "$(dpkg-deb -f "$deb" Version)" ] && [ ! -s "$scratch/err" ] ||
  fail "vorlash from the package gave $rc, '$out', $(cat "$scratch/err")"
echo 'package require tcltest' | "$scratch/root/usr/bin/vorlash" >/dev/null 2>&1 || fail "vorlash cannot load tcltest"
ldd "$scratch/root/usr/bin/vorlash" | grep -q libQt && fail "vorlash links Qt"
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian" 2>/dev/null
grep '^E:' "$scratch/lintian" && fail "lintian reports errors"

[ $failures -eq 0 ] && echo "install checks passed"
exit $((failures > 0))
