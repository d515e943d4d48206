#!/usr/bin/env bash
# Builds merkat32 for 64-bit Windows: first Qt (Core, Gui, Widgets and
# PrintSupport only) cross-built with mingw-w64 from Debian's own qt6-base
# source package against the host's Qt tools of the same version, into a
# cache folder outside the repository (built once, reused afterwards); then
# merkat32.exe against it, gathered with its stripped DLLs, plug-ins, language
# and help files and the licence notices into
# build/windows/merkat32-<version>-windows-x86_64/, a .zip of it (the portable
# copy, at most 20 MB) and the installer merkat32-<version>-setup.exe (NSIS).
#
#   scripts/build-windows.sh            everything (the first time mostly the
#                                       Qt build: README.md, "Windows", says how long)
#   scripts/build-windows.sh --qt-only  only the Qt cache
#   M32_QT_MINGW_CACHE=DIR              the cache (default ~/.cache/merkat32-qt-mingw)
#   M32_JOBS=N                          parallel jobs (default: number of cores)
# Needs root or sudo the first time (apt-get for the packages and the source).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
qt_only=0
[[ ${1:-} == --qt-only ]] && qt_only=1

cache=${M32_QT_MINGW_CACHE:-$HOME/.cache/merkat32-qt-mingw}
prefix=$cache/qt6-mingw
jobs=${M32_JOBS:-$(nproc)}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
host_cmake_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake
t0=$SECONDS
stamp() { echo "== $(date -u +%H:%M:%S) (+$((SECONDS - t0)) s) $*"; }

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

need=(g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools dpkg-dev ninja-build cmake zip nsis
  mingw-w64-common gcc-mingw-w64-base)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  stamp "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+-].*//')

build_qt() {
  local src_root=$cache/src build=$cache/build
  mkdir -p "$src_root"
  local src
  src=$(find "$src_root" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
  if [[ -z $src ]]; then
    # The same version as the host's Qt, whose tools (moc, rcc, uic) build it.
    if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      stamp "adding deb-src entries for apt-get source"
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/merkat32-deb-src.sources >/dev/null
      "${sudo_cmd[@]}" apt-get update -q
    fi
    stamp "fetching the qt6-base source ($host_qt)"
    (cd "$src_root" && apt-get source -q "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)")
    src=$(find "$src_root" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
  fi
  # Debian's source leaves out the Wintab header that tablet support needs;
  # the tool has no use for tablets.
  stamp "configuring Qt from $src"
  cmake -G Ninja -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMINGW_STATIC_RUNTIME=OFF \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
    -DINPUT_opengl=no -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_openssl=OFF -DFEATURE_icu=OFF -DFEATURE_jpeg=ON -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_printsupport=ON \
    -DFEATURE_tabletevent=OFF
  stamp "building Qt ($jobs jobs)"
  cmake --build "$build" --parallel "$jobs"
  stamp "installing Qt into $prefix"
  cmake --install "$build"
  echo "$host_qt" >"$prefix/.complete"
  stamp "Qt done"
}

# The licences of everything shipped, from the sources and Debian's copyright
# files, with a notice that says what is whose and where its source is.
gather_licences() {
  local dir=$1 qt_src
  qt_src=$(find "$cache/src" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
  local qt_dsc
  qt_dsc=$(basename "$(find "$cache/src" -maxdepth 1 -name 'qt6-base_*.dsc' | head -n 1)" .dsc)
  local qt_deb_version=${qt_dsc#qt6-base_}
  mkdir -p "$dir"
  cp "$qt_src/LICENSES/LGPL-3.0-only.txt" "$dir/Qt-LGPL-3.0.txt"
  cp "$qt_src/LICENSES/GPL-3.0-only.txt" "$dir/GPL-3.0.txt"
  if [[ -f $qt_src/debian/copyright ]]; then
    cp "$qt_src/debian/copyright" "$dir/Qt-copyright.txt"
  fi
  cp /usr/share/doc/gcc-mingw-w64-base/copyright "$dir/GCC-runtime-copyright.txt"
  cp /usr/share/doc/mingw-w64-common/copyright "$dir/mingw-w64-copyright.txt"
  sed 's/$/\r/' >"$dir/NOTICE.txt" <<NOTICE
merkat32 $version for Windows
=============================

This folder holds merkat32.exe and the libraries it runs on. Their licences:

Qt $host_qt: Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, Qt6PrintSupport.dll and
the plug-ins in platforms\, styles\, printsupport\ and imageformats\.
(c) The Qt Company Ltd. and other contributors. Used under the GNU Lesser
General Public License version 3 (Qt-LGPL-3.0.txt, which builds on
GPL-3.0.txt). The libraries are Qt's own, unmodified, linked dynamically: you
may replace them with your own build of the same Qt version. The code Qt
bundles (zlib, libpng, libjpeg, PCRE2, HarfBuzz, FreeType, double-conversion
and others) and its licences: Qt-copyright.txt.
Source: Debian's qt6-base source package $qt_deb_version
  https://sources.debian.org/src/qt6-base/$qt_deb_version/
  (on Debian: apt-get source qt6-base=$qt_deb_version)
or Qt's own release: https://download.qt.io/archive/qt/
It was configured and built by scripts/build-windows.sh of merkat32, which
says how.

GCC runtime libraries: libstdc++-6.dll and libgcc_s_seh-1.dll.
GNU General Public License version 3 (GPL-3.0.txt) with the GCC Runtime
Library Exception version 3.1, which allows them to be shipped with a program
compiled by GCC under terms of its own; both in GCC-runtime-copyright.txt.
Source: Debian's gcc-mingw-w64 source package
  https://sources.debian.org/src/gcc-mingw-w64/

mingw-w64 winpthreads: libwinpthread-1.dll.
MIT and BSD-style licences; mingw-w64-copyright.txt (the winpthreads
sections). Source: Debian's mingw-w64 source package
  https://sources.debian.org/src/mingw-w64/
NOTICE
}

# The installer: makensis (Debian's nsis) with the file lists of the folder.
make_installer() {
  local folder=$1 setup=$2 lists=$build/nsis f rel
  rm -rf "$lists" && mkdir -p "$lists"
  (
    cd "$folder"
    find . -type d | sort | while IFS= read -r f; do
      rel=${f#./}
      if [[ $f == . ]]; then echo 'SetOutPath "$INSTDIR"'; else echo "SetOutPath \"\$INSTDIR\\${rel//\//\\}\""; fi
      find "$f" -maxdepth 1 -type f | sort | while IFS= read -r g; do
        echo "File \"$folder/${g#./}\""
      done
    done
    echo 'SetOutPath "$INSTDIR"'
  ) >"$lists/install.nsh"
  (
    cd "$folder"
    find . -type f | sort | while IFS= read -r f; do
      rel=${f#./}
      echo "Delete \"\$INSTDIR\\${rel//\//\\}\""
    done
    find . -mindepth 1 -type d | sort -r | while IFS= read -r f; do
      rel=${f#./}
      echo "RMDir \"\$INSTDIR\\${rel//\//\\}\""
    done
  ) >"$lists/uninstall.nsh"
  makensis -V2 -NOCD -DVERSION="$version" -DSRCDIR="$folder" -DOUTFILE="$setup" \
    -DFILES="$lists" -DICON="$root/packaging/windows/merkat32.ico" \
    "$root/packaging/windows/merkat32.nsi"
}

if [[ ! -f $prefix/.complete ]]; then
  build_qt
else
  stamp "Qt for Windows found in $prefix"
fi
((qt_only)) && exit 0

version=$(sed -n 's/^project(merkat32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=$root/build/windows
stamp "building merkat32.exe"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -G Ninja -S . -B "$build/cmake" "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMINGW_STATIC_RUNTIME=OFF -DMINGW_QT_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
  -DCMAKE_BUILD_TYPE=Release -DMERKAT_WERROR=ON \
  -DMERKAT_BUILD_TESTS=OFF -DMERKAT_BUILD_BENCH=OFF
cmake --build "$build/cmake" --parallel "$jobs" --target merkat32

name=merkat32-$version-windows-x86_64
out=$build/$name
stamp "gathering $out"
rm -rf "$out" "$build/$name.zip"
mkdir -p "$out/platforms" "$out/styles"
cp "$build/cmake/src/app/exe/merkat32.exe" "$out/"
x86_64-w64-mingw32-strip "$out/merkat32.exe"
for lib in Core Gui Widgets PrintSupport; do cp "$prefix/bin/Qt6$lib.dll" "$out/"; done
cp "$prefix/plugins/platforms/qwindows.dll" "$out/platforms/"
cp "$prefix"/plugins/styles/*.dll "$out/styles/" 2>/dev/null || rmdir "$out/styles"
if [[ -d $prefix/plugins/printsupport ]]; then
  mkdir -p "$out/printsupport" && cp "$prefix"/plugins/printsupport/*.dll "$out/printsupport/"
fi
# The C++ runtime of the posix-thread mingw-w64.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  found=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")
  [[ -f $found ]] || found=$(find /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32 -name "$dll" | grep -m1 posix || true)
  [[ -f $found ]] || found=$(find /usr/x86_64-w64-mingw32 -name "$dll" | head -n 1)
  cp "$found" "$out/"
done
# JPEG pictures in help files.
mkdir -p "$out/imageformats"
cp "$prefix/plugins/imageformats/qjpeg.dll" "$out/imageformats/"
# Nothing shipped keeps its debug sections (they are most of the size).
find "$out" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
# Language and help files ship beside the executable; the settings file is
# written there on the first start. The Czech language file is written by a
# host build of its writer, as the tool would write it at its first start.
cp data/merkat32.MN* data/merkat32.HL* "$out/"
cmake -G Ninja -S . -B "$build/host" -DMERKAT_WITH_QT=OFF -DMERKAT_BUILD_TESTS=OFF \
  -DMERKAT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build/host" --target merkat32-language-template >/dev/null
"$build/host/packaging/merkat32-language-template" "$out/merkat32.MNU"
gather_licences "$out/licences"
(cd "$build" && zip -qr "$name.zip" "$name")
zip_bytes=$(stat -c %s "$build/$name.zip")
((zip_bytes <= 20 * 1024 * 1024)) || { echo "the zip is $zip_bytes bytes, over 20 MB" >&2; exit 1; }
make_installer "$out" "$build/merkat32-$version-setup.exe"
stamp "done: $out, $build/$name.zip ($zip_bytes bytes) and $build/merkat32-$version-setup.exe" \
  "($(du -sh "$out" | cut -f1), exe $(stat -c %s "$out/merkat32.exe") bytes)"
