# Sourced by run.sh, test.sh and fuzz/run.sh: installs the Debian packages
# the build needs when they are missing, or prints the one line that
# installs them.

# dpkg-dev (dpkg-shlibdeps) and desktop-file-utils make and check the Debian package.
# The history of readings is a SQLite file read through Qt SQL: qt6-base-dev
# carries Qt6Sql's CMake files, libqt6sql6-sqlite the driver.
# qt6-multimedia-dev plays the alert tones, qt6-speech-dev says the critical
# alerts aloud; its CMake package needs Qt Qml's integration headers
# (qt6-declarative-dev), though the viewer uses no QML.
# qt6-charts-dev draws the trends window; its CMake package needs Qt OpenGL's
# (libqt6opengl6-dev). Qt PrintSupport, which prints the tour report, comes
# with qt6-base-dev; poppler-utils (pdftotext) reads the report back in the
# tests. The shared history is a PostgreSQL server reached through Qt SQL's
# own driver (libqt6sql6-psql); postgresql is the server the tests start.
RTVIEWER_PACKAGES=(build-essential cmake qt6-base-dev libqt6sql6-sqlite fonts-liberation dpkg-dev desktop-file-utils qt6-multimedia-dev qt6-speech-dev qt6-declarative-dev qt6-charts-dev libqt6opengl6-dev poppler-utils libqt6sql6-psql postgresql)
# clang and its runtimes (libFuzzer, the sanitizers) for the fuzz targets.
RTVIEWER_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local apt=()
    if [ "$(id -u)" -eq 0 ]; then
        apt=(apt-get)
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        apt=(sudo apt-get)
    fi
    if [ ${#apt[@]} -eq 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

ensure_deps() {
    ensure_packages "${RTVIEWER_PACKAGES[@]}" "$@"
}

ensure_fuzz_deps() {
    ensure_packages "${RTVIEWER_FUZZ_PACKAGES[@]}"
}
