#!/usr/bin/env bash
# Makes the Debian package from a configured and built tree and inspects it
# without installing it: its name and version, where every file goes, the
# computed dependencies, the configuration files marked as such, stripped
# programs, the icon and the desktop entry. The package is made in a scratch
# folder and thrown away. On the first problem it prints one line starting
# with "check-package: FAIL" and exits non-zero.
#
#   scripts/check-package.sh BUILD-DIR
set -euo pipefail

fail() {
    echo "check-package: FAIL: $*" >&2
    exit 1
}

[ $# -eq 1 ] || { echo "usage: $0 BUILD-DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || fail "no build folder $1"
[ -f "$build/CPackConfig.cmake" ] || fail "$build has no CPackConfig.cmake: configure it with CMake first"
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps desktop-file-validate readelf; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh lists the packages)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
    tail -n 20 "$work/cpack.log" >&2
    fail "cpack -G DEB did not make the package"
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${#debs[@]} .deb files instead of one"
deb=${debs[0]}
name=$(basename "$deb")

# Name and version: rtviewer_<project version>_<architecture>.deb.
version=$(sed -n 's/^project(rtviewer VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
arch=$(dpkg --print-architecture)
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = rtviewer ] || fail "package name is '$(field Package)', not rtviewer"
[ "$(field Version)" = "$version" ] || fail "package version '$(field Version)' is not the project version $version"
[ "$(field Architecture)" = "$arch" ] || fail "package architecture '$(field Architecture)' is not $arch"
[ "$name" = "rtviewer_${version}_${arch}.deb" ] || fail "package file is $name, not rtviewer_${version}_${arch}.deb"
for key in Maintainer Description Section; do
    [ -n "$(field "$key")" ] || fail "the package has no $key"
done

# Dependencies: computed from the programs' libraries, with their versions.
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6; do
    [[ ", $depends" == *", $lib (>= "* ]] || fail "Depends does not name $lib with a version: $depends"
done

# Files and their places: exactly these, nothing from the build or the tests.
prefix=$(sed -n 's/^set(CPACK_PACKAGING_INSTALL_PREFIX "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$prefix" ] || fail "no CPACK_PACKAGING_INSTALL_PREFIX in $build/CPackConfig.cmake"
programs=(rtviewer unit-sim)
[ -x "$build/bin/rthistory" ] && programs+=(rthistory)
configs=(RDconfig.ini RDVlookup.TXT)
expected=(
    "/usr/bin/rtviewer -> $prefix/bin/rtviewer"
    /usr/share/applications/rtviewer.desktop
    /usr/share/icons/hicolor/scalable/apps/rtviewer.svg
    /usr/share/icons/hicolor/256x256/apps/rtviewer.png
)
for program in "${programs[@]}"; do expected+=("$prefix/bin/$program"); done
for config in "${configs[@]}"; do expected+=("$prefix/bin/$config"); done
dpkg-deb --contents "$deb" >"$work/contents" || fail "dpkg-deb cannot list $name"
# Every file and link of the listing as "/path" or "/path -> target".
awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +\./, ""); print }' "$work/contents" | sort >"$work/files"
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
missing=$(comm -13 "$work/files" "$work/expected" | head -n 1)
[ -z "$missing" ] || fail "the package lacks $missing"
extra=$(comm -23 "$work/files" "$work/expected" | head -n 1)
[ -z "$extra" ] || fail "the package holds an unexpected file: $extra"

# Modes: programs executable, everything else readable and not executable.
for program in "${programs[@]}"; do
    grep -q "^-rwxr-xr-x .* \.$prefix/bin/$program\$" "$work/contents" || fail "$prefix/bin/$program is not installed with mode 755"
done
for config in "${configs[@]}"; do
    grep -q "^-rw-r--r-- .* \.$prefix/bin/$config\$" "$work/contents" || fail "$prefix/bin/$config is not installed with mode 644"
done

# Configuration files: marked, so that an upgrade keeps the site's copies.
dpkg-deb --info "$deb" conffiles >"$work/conffiles" 2>/dev/null || fail "the package marks no configuration files"
printf "$prefix/bin/%s\n" "${configs[@]}" | sort >"$work/conffiles.expected"
sort "$work/conffiles" | cmp -s - "$work/conffiles.expected" \
    || fail "conffiles lists '$(tr '\n' ' ' <"$work/conffiles")' instead of the two configuration files"

dpkg-deb --extract "$deb" "$work/tree" || fail "dpkg-deb cannot extract $name"
for program in "${programs[@]}"; do
    sections=$(readelf --section-headers --wide "$work/tree$prefix/bin/$program") || fail "$program is not an ELF program"
    ! grep -qE '\.(symtab|debug_info)\b' <<<"$sections" || fail "$program is not stripped"
done

# Icon: a 256 x 256 PNG (width and height are the IHDR chunk's first words).
png=$work/tree/usr/share/icons/hicolor/256x256/apps/rtviewer.png
size=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ' | sed 's/^ //')
[ "$size" = "0 0 1 0 0 0 1 0" ] || fail "rtviewer.png is not 256 x 256 (IHDR size bytes: $size)"

# Desktop entry: valid, starting the shipped launcher, naming the shipped icon
# and the window class the viewer sets.
desktop=$work/tree/usr/share/applications/rtviewer.desktop
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $(head -n 1 <<<"$report")"
entry() { sed -n "s/^$1=//p" "$desktop"; }
exec_program=$(entry Exec | cut -d' ' -f1)
[ -L "$work/tree/usr/bin/$exec_program" ] || fail "the desktop entry starts '$exec_program', which the package does not put in /usr/bin"
[ "$(entry Icon)" = rtviewer ] || fail "the desktop entry's icon is '$(entry Icon)', not rtviewer"
[ "$(entry StartupWMClass)" = rtviewer ] || fail "StartupWMClass is '$(entry StartupWMClass)', not the viewer's window class rtviewer"

echo "check-package: OK: $name, $(wc -l <"$work/files") files, Depends: $depends"
