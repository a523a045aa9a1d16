#!/usr/bin/env bash
# Makes the Debian package from a configured and built tree and inspects it
# without installing it: its name and version, where every file goes, the
# computed dependencies, the configuration files marked as such, stripped
# programs, the icon, the desktop entry, the links in the command path with a
# manual page for each, the copyright statement and the changelog; then, when
# lintian is installed, what lintian reports, of which only the tags the
# README explains may stand. The package is made in a scratch folder and
# thrown away. On the first problem it prints one line starting with
# "check-package: FAIL" and exits non-zero.
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
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps dpkg-parsechangelog desktop-file-validate readelf gzip; do
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
recorder=""
[ -x "$build/bin/rtrecorder" ] && { programs+=(rtrecorder); recorder=yes; }
configs=(RDconfig.ini RDVlookup.TXT)
docs=/usr/share/doc/rtviewer
expected=(
    /usr/share/applications/rtviewer.desktop
    /usr/share/icons/hicolor/scalable/apps/rtviewer.svg
    /usr/share/icons/hicolor/256x256/apps/rtviewer.png
    "$docs/copyright"
    "$docs/changelog.gz"
    /usr/share/rtviewer/sql/roles.sql
)
# Every program: in the prefix, linked from the command path, with its
# manual page.
for program in "${programs[@]}"; do
    expected+=("$prefix/bin/$program" "/usr/bin/$program -> $prefix/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
for config in "${configs[@]}"; do expected+=("$prefix/bin/$config"); done
# The fleet recorder's service: its unit, its system user, its units file.
if [ -n "$recorder" ]; then
    expected+=(/lib/systemd/system/rtrecorder.service /usr/lib/sysusers.d/rtrecorder.conf /etc/rtviewer/units)
fi
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
{ printf "$prefix/bin/%s\n" "${configs[@]}"; [ -z "$recorder" ] || echo /etc/rtviewer/units; } | sort >"$work/conffiles.expected"
sort "$work/conffiles" | cmp -s - "$work/conffiles.expected" \
    || fail "conffiles lists '$(tr '\n' ' ' <"$work/conffiles")' instead of the configuration files"
# The service is installed, not enabled: the postinst makes its user and
# nothing more.
if [ -n "$recorder" ]; then
    dpkg-deb --info "$deb" postinst >"$work/postinst" 2>/dev/null || fail "the package has no postinst to make the recorder's user"
    grep -q 'systemd-sysusers rtrecorder.conf' "$work/postinst" || fail "the postinst does not make the recorder's user"
    ! grep -qE 'systemctl|deb-systemd' "$work/postinst" || fail "the postinst enables or starts a service"
fi

dpkg-deb --extract "$deb" "$work/tree" || fail "dpkg-deb cannot extract $name"
for program in "${programs[@]}"; do
    sections=$(readelf --section-headers --wide "$work/tree$prefix/bin/$program") || fail "$program is not an ELF program"
    ! grep -qE '\.(symtab|debug_info)\b' <<<"$sections" || fail "$program is not stripped"
done

# Documents: all but the programs readable and not executable; compressed
# as Debian does (gzip -9 without the file's name and time: flag byte 0 and
# time bytes 0, so that the same sources give the same bytes).
# Fields of a listing line: mode, owner, size, date, time, path.
bad_mode=$(awk -v bin="./${prefix#/}/bin/" '$1 ~ /^-/ && index($6, bin) != 1 && $1 != "-rw-r--r--" { print $1, $6; exit }' "$work/contents")
[ -z "$bad_mode" ] || fail "not installed with mode 644: $bad_mode"
gzipped=("$docs/changelog.gz")
for program in "${programs[@]}"; do gzipped+=("/usr/share/man/man1/$program.1.gz"); done
for gz in "${gzipped[@]}"; do
    gzip -t "$work/tree$gz" 2>/dev/null || fail "$gz is not gzip data"
    # Header bytes 3 to 8: flags, four bytes of time, then 2 for the best compression.
    header=$(od -An -tu1 -j3 -N6 "$work/tree$gz" | tr -s ' ' | sed 's/^ //')
    [ "$header" = "0 0 0 0 0 2" ] || fail "$gz is not compressed with gzip -9n (header bytes 3 to 8: $header)"
done
# The changelog is Debian's format, and its latest entry is this version.
gzip -dc "$work/tree$docs/changelog.gz" >"$work/changelog"
changelog_version=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) || fail "the changelog does not parse: $changelog_version"
[ "$changelog_version" = "$version" ] || fail "the changelog's latest entry is $changelog_version, not the package's $version: add an entry to packaging/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Source)" = rtviewer ] || fail "the changelog is not rtviewer's"
# The copyright file is machine-readable and covers every file.
copyright=$work/tree$docs/copyright
[ "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] \
    || fail "the copyright file does not start with the machine-readable format's Format line"
for key in "Files: \*" "Copyright: ." "License: ."; do
    grep -qE "^$key" "$copyright" || fail "the copyright file has no '${key//\\/}' field"
done
# Each manual page names its program.
for program in "${programs[@]}"; do
    gzip -dc "$work/tree/usr/share/man/man1/$program.1.gz" | grep -qE "^\.TH \"?${program^^}\"? 1 " \
        || fail "the manual page of $program does not start with its .TH line"
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

# lintian, where installed: every tag it reports at error or warning level
# must be one the README's Installing section explains, and none may stand
# that is not reported any more (the README would then be wrong).
lintian_summary="lintian not installed"
if command -v lintian >/dev/null; then
    explained=(dir-or-file-in-opt non-etc-file-marked-as-conffile)
    lintian --no-cfg --fail-on none "$deb" 2>/dev/null | sort -u >"$work/lintian" || fail "lintian did not run"
    readme=$root/README.md
    for tag in "${explained[@]}"; do
        grep -q "\`$tag\`" "$readme" || fail "the README does not explain lintian's $tag"
        grep -q "^[EW]: rtviewer: $tag " "$work/lintian" || fail "lintian no longer reports $tag: drop it from the README and from this check"
    done
    unexplained=$(grep -E '^[EW]: ' "$work/lintian" | grep -vE "^[EW]: rtviewer: ($(IFS='|'; echo "${explained[*]}")) " | head -n 1) || true
    [ -z "$unexplained" ] || fail "lintian: $unexplained"
    lintian_summary="lintian: $(grep -cE '^[EW]: ' "$work/lintian") explained reports"
fi

echo "check-package: OK: $name, $(wc -l <"$work/files") files, $lintian_summary, Depends: $depends"
