#!/usr/bin/env bash
# Cross-builds VORLA for 64-bit Windows with MinGW-w64:
#   scripts/build-windows.sh [--gui] [--test]
# Tcl (and, with --gui, Qt) are fetched as Debian source packages and built
# once into a cache outside the source tree:
#   ${VORLA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorla-windows}
# The machine's own apt configuration is not touched: the sources are fetched
# with a private sources list, lists and archive cache under the cache.
# The build goes to build/windows: the core library, vorlash.exe and the core
# tests; with --gui also vorla.exe (Qt takes the better part of an hour to
# build the first time). --test runs the core tests under Wine in a fresh
# prefix, their simulated devices played by a Linux devsim on pseudo-terminals
# that the prefix maps as COM ports.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD

gui=0
test=0
for arg in "$@"; do
  case $arg in
    --gui) gui=1 ;;
    --test) test=1 ;;
    *) echo "usage: $0 [--gui] [--test]" >&2; exit 2 ;;
  esac
done

host=x86_64-w64-mingw32
cache=${VORLA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorla-windows}
prefix=$cache/prefix
build=$src/build/windows
jobs=$(nproc)
toolchain=$src/cmake/mingw-w64.cmake
mkdir -p "$cache" "$prefix"

for tool in $host-g++-posix $host-windres dpkg-source; do
  command -v "$tool" >/dev/null || { echo "build-windows: $tool is missing (scripts/ensure-deps.sh installs it)" >&2; exit 1; }
done

if [ $gui -eq 1 ]; then
  command -v zip >/dev/null || { echo "build-windows: zip is missing (apt-get install zip)" >&2; exit 1; }
fi

step_start=0
step() { step_start=$SECONDS; echo "=== windows: $*"; }
done_step() { echo "=== windows: $1 took $((SECONDS - step_start)) s"; }

# Debian source packages through a private apt configuration under the cache.
apt_dir=$cache/apt
apt_opts=(
  -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
  -o Dir::State::Status=/dev/null
)
# Run as root, apt would hand the download to its _apt user, who may not
# write to the cache.
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
fetch_source() { # package: unpacks it under $cache/src unless it is there
  local package=$1
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$cache/src"
  if [ ! -f "$apt_dir/sources.list" ]; then
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
      >"$apt_dir/sources.list"
  fi
  if ! compgen -G "$apt_dir/lists/*Sources*" >/dev/null; then
    apt-get "${apt_opts[@]}" -qq update
  fi
  (cd "$cache/src" && apt-get "${apt_opts[@]}" -qq source "$package")
}

if [ ! -f "$prefix/lib/tclConfig.sh" ]; then
  step "Tcl 8.6 (fetched and built once)"
  rm -rf "$cache"/src/tcl8.6-* "$cache/build/tcl"
  fetch_source tcl8.6
  tcl_src=$(echo "$cache"/src/tcl8.6-*/)
  mkdir -p "$cache/build/tcl"
  (cd "$cache/build/tcl" &&
    "$tcl_src/win/configure" --host=$host --enable-64bit --enable-threads --prefix="$prefix" >configure.log &&
    make -j"$jobs" >make.log 2>&1 && make install >install.log 2>&1) ||
    { echo "build-windows: the Tcl build failed; see $cache/build/tcl/*.log" >&2; exit 1; }
  done_step "Tcl"
fi

gtest_version=$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || true)
if [ ! -f "$prefix/gtest-version" ] || [ "$(cat "$prefix/gtest-version")" != "$gtest_version" ]; then
  step "GoogleTest from /usr/src/googletest"
  [ -d /usr/src/googletest ] || { echo "build-windows: /usr/src/googletest is missing (package googletest)" >&2; exit 1; }
  rm -rf "$cache/build/googletest"
  cmake -S /usr/src/googletest -B "$cache/build/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$cache/build/googletest" -j "$jobs" >/dev/null
  cmake --install "$cache/build/googletest" >/dev/null
  echo "$gtest_version" >"$prefix/gtest-version"
  done_step "GoogleTest"
fi

gui_args=(-DVORLA_BUILD_GUI=OFF)
if [ $gui -eq 1 ]; then
  if [ ! -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    step "Qt 6 base (fetched and built once; this takes long)"
    rm -rf "$cache"/src/qt6-base-* "$cache/build/qtbase"
    fetch_source qt6-base
    qt_src=$(echo "$cache"/src/qt6-base-*/)
    # Qt 6.4's Windows platform plugin asks about dynamic OpenGL without
    # asking whether OpenGL is built at all; VORLA needs no OpenGL.
    sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
      "$qt_src/src/plugins/platforms/windows/qwindowswindow.cpp"
    # The host's own Qt (same version) supplies moc, rcc and uic.
    cmake -S "$qt_src" -B "$cache/build/qtbase" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVORLA_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
      -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
      -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_zstd=OFF
    cmake --build "$cache/build/qtbase" -j "$jobs"
    cmake --install "$cache/build/qtbase"
    done_step "Qt"
  fi
  gui_args=(-DVORLA_BUILD_GUI=ON -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
fi

step "configure and build $build"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVORLA_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$build/bin" \
  -DVORLA_BUILD_BENCH=OFF -DVORLA_PACKAGE_TESTS=OFF "${gui_args[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
# Tcl's DLLs and script library beside the programs: Tcl looks for its
# library in ../lib/tcl8.6 from the program.
cp "$prefix"/bin/*.dll "$build/bin/"
rm -rf "$build/lib/tcl8.6"
mkdir -p "$build/lib"
cp -r "$prefix/lib/tcl8.6" "$build/lib/"
done_step "VORLA build"

if [ $gui -eq 1 ]; then
  step "package vorla.exe with the DLLs it needs"
  # The distribution: the programs, Tcl, Qt (its DLLs use the compiler's
  # shared runtime; the programs carry their own) and Qt's plugins, stripped.
  package=$build/package/vorla
  rm -rf "$build/package" "$build/vorla-windows.zip"
  mkdir -p "$package"
  runtime=$(dirname "$($host-g++-posix -print-libgcc-file-name)")
  cp "$build"/bin/{vorla,vorlash}.exe "$build"/bin/{tcl86,zlib1}.dll "$package/"
  cp "$runtime/libstdc++-6.dll" "$runtime/libgcc_s_seh-1.dll" /usr/$host/lib/libwinpthread-1.dll "$package/"
  for module in Core Gui Widgets PrintSupport; do cp "$prefix/bin/Qt6$module.dll" "$package/"; done
  for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll printsupport/windowsprintersupport.dll; do
    if [ -f "$prefix/plugins/$plugin" ]; then
      mkdir -p "$package/$(dirname "$plugin")"
      cp "$prefix/plugins/$plugin" "$package/$plugin"
    fi
  done
  find "$package" -name '*.dll' -o -name '*.exe' | xargs $host-strip --strip-unneeded
  mkdir -p "$build/package/lib"
  cp -r "$build/lib/tcl8.6" "$build/package/lib/"
  (cd "$build/package" && zip -qr ../vorla-windows.zip vorla lib)
  echo "=== windows: $build/vorla-windows.zip: $(du -k "$build/vorla-windows.zip" | cut -f1) KB"
  done_step "package"
fi

[ $test -eq 1 ] || exit 0
exec "$src/scripts/test-wine.sh" "$build"
