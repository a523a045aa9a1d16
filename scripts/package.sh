#!/usr/bin/env bash
# Installs what is missing, builds the installed programs in Release into
# build-package/ and makes the Debian package rtviewer_<version>_<arch>.deb in
# the top folder of the source tree:
#
#   scripts/package.sh && sudo apt install ./rtviewer_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_deps

build=build-package
# Only the programs the package holds are built: with the install rule's
# dependency on everything skipped, cpack does not build the tests either.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target installed-programs
rm -f "$build"/rtviewer_*.deb
(cd "$build" && cpack -G DEB)

debs=("$build"/rtviewer_*.deb)
rm -f rtviewer_*.deb
cp "${debs[0]}" .
name=$(basename "${debs[0]}")
echo "Package: ./$name"
echo "Install it with: sudo apt install ./$name"
