#!/bin/sh
# Builds the Debian package of a build folder with cpack, unpacks it with
# dpkg -x into a scratch root and checks that it holds what the README lists
# and depends on runtime packages only. Usage: check_deb.sh BUILD_DIR
set -eu
build="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/velotext_*.deb)
dpkg -x "$deb" "$scratch/root"
status=0
for f in usr/bin/velotext usr/share/applications/velotext.desktop usr/share/man/man1/velotext.1.gz \
         usr/share/icons/hicolor/scalable/apps/velotext.svg usr/share/icons/hicolor/48x48/apps/velotext.png \
         usr/share/metainfo/org.velotext.Velotext.metainfo.xml usr/share/doc/velotext/copyright \
         usr/share/doc/velotext/changelog.gz; do
    [ -f "$scratch/root/$f" ] || { echo "missing in the package: /$f"; status=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6network6 libcurl4 libssl3 libpcre2-8-0; do
    echo "$depends" | grep -q "$lib" || { echo "not among the dependencies: $lib"; status=1; }
done
echo "$depends" | grep -q -- '-dev' && { echo "a -dev package among the dependencies"; status=1; }
grep -q '^MimeType=x-scheme-handler/sms;' "$scratch/root/usr/share/applications/velotext.desktop" ||
    { echo "the desktop entry does not open sms: links"; status=1; }
# The packaged program runs: its Russian help needs no display.
env -u DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/velotext" --help | grep -q 'Использование' ||
    { echo "the packaged program does not print its help"; status=1; }
# Debian's own package checker: no error and no warning.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --tag-display-limit 0 "$deb" || { echo "lintian refuses the package"; status=1; }
else
    echo "lintian not found (package lintian): the package is not checked"; status=1
fi
exit $status
