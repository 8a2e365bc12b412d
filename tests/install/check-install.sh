#!/usr/bin/env bash
# The tool as users get it. Installs the build into a temporary prefix and
# checks what landed there, asks the installed binary for --help and --version
# with no display at all, packages the build with CPack into a temporary
# folder and reads the package back with dpkg-deb.
#   check-install.sh BUILD_DIR VERSION [CMAKE CPACK]
set -euo pipefail
build=$1
version=$2
cmake=${3:-cmake}
cpack=${4:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
tool=$prefix/bin/QelIpTool
[ -x "$tool" ] || fail "no executable $tool"
[ "$(ls "$prefix/bin")" = QelIpTool ] || fail "bin holds more than the tool: $(ls "$prefix/bin" | tr '\n' ' ')"
desktop=$prefix/share/applications/qel-ip-tool.desktop
grep -qx 'Name=QEL IP Tool' "$desktop" || fail "desktop entry without its name"
grep -qx 'Exec=QelIpTool' "$desktop" || fail "desktop entry does not start the tool"
grep -qE '^Categories=(.*;)?Network;' "$desktop" || fail "desktop entry not in the Network category"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -s "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon '$icon' not installed"
[ -s "$prefix/share/doc/qel-ip-tool/README.md" ] || fail "README not installed"

"$cmake" --install "$build" --prefix "$work/sim" --component simulator >/dev/null
[ -x "$work/sim/bin/qel-device-sim" ] || fail "simulator component does not install the simulator"

# No display, no platform override: a QApplication would fail here.
cd "$work"
bare() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
out=$(bare "$tool" --version) || fail "--version exited $?"
[ "$out" = "QEL IP Tool $version" ] || fail "--version printed '$out'"
! bare "$tool" --version >/dev/full || fail "--version into a full disk reported success"
out=$(bare "$tool" --v=1 --help) || fail "--help exited $?"
for option in --version -v --v=N --default-log-file search readdress QEL_ADMIN_PASSWORD; do
  grep -q -- "$option" <<<"$out" || fail "--help does not mention $option"
done
# The logging switches still reach the tool, which opens its window and
# keeps running until stopped.
rc=0
QT_QPA_PLATFORM=offscreen timeout 3 "$tool" --v=1 -vmodule=x=1 >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 124 ] || fail "QelIpTool --v=1 ended by itself with $rc instead of running"

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >/dev/null
deb=$(ls "$work"/pkg/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = qel-ip-tool ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt5widgets5' <<<"$depends" || fail "Depends not computed from the binary: '$depends'"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/QelIpTool ./usr/share/applications/qel-ip-tool.desktop \
            "./usr/share/icons/hicolor/scalable/apps/$icon.svg"; do
  grep -qx -- "$path" <<<"$contents" || fail "package lacks $path"
done
! grep -q qel-device-sim <<<"$contents" || fail "package holds the simulator"

echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "Depends: $depends"
