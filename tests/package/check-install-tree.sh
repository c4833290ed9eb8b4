#!/usr/bin/env bash
# Installs a build into a scratch root and checks what a desktop needs from it: the menu entry,
# the themed icons, the AppStream metainfo and the manual page, each with its own validator.
# Usage: check-install-tree.sh BUILD_DIR APP_ID
set -euo pipefail
# A plain ctest may run with no environment at all.
export PATH=${PATH:-/usr/local/bin:/usr/bin:/bin}
build=$1
app_id=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
share=$root/usr/share
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

expected=(
    usr/bin/kintosniffer
    usr/libexec/kintosniffer/kintosniffer-capture
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    usr/share/man/man1/kintosniffer.1.gz
    usr/share/icons/hicolor/scalable/apps/kintosniffer.svg
    usr/share/doc/kintosniffer/changelog.gz
    usr/share/doc/kintosniffer/copyright
)
for size in 16 24 32 48; do
    expected+=("usr/share/icons/hicolor/${size}x$size/apps/kintosniffer.png")
done
for f in "${expected[@]}"; do
    [ -f "$root/$f" ] || fail "not installed: /$f"
done

for size in 16 24 32 48; do
    png=$share/icons/hicolor/${size}x$size/apps/kintosniffer.png
    file -b "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not $size x $size"
done

desktop-file-validate "$share/applications/$app_id.desktop" || fail "desktop entry"
# validate-tree also matches the metainfo with its desktop entry and finds the icon.
appstreamcli validate-tree --no-net "$root" || fail "AppStream tree"

warnings=$(gzip -dc "$share/man/man1/kintosniffer.1.gz" | groff -t -man -ww -z -Tutf8 2>&1)
[ -z "$warnings" ] || fail "manual page: $warnings"

if ((failures)); then
    echo "$failures failed"
    exit 1
fi
echo "install tree: ${#expected[@]} files in place, validators content"
