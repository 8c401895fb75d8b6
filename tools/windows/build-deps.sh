#!/usr/bin/env bash
# Builds, with mingw-w64, the libraries the Windows core needs that Debian ships only for Linux:
# from Debian's own source packages (apt-get source, with a private deb-src list naming the
# archive this machine already uses) into PREFIX. Reused while the package versions, this
# script, the toolchain file and the compiler stay the same.
#
#   tools/windows/build-deps.sh PREFIX [JOBS]
#
# Chosen: liblzma (xz-utils) and nettle, which the own 7z reader decodes and deciphers with;
# Boost's compiled parts that the core reaches (log with its thread, filesystem and atomic
# pieces, regex) with the headers of libboost1.74-dev; GoogleTest from Debian's googletest.
# Not built: libarchive (the own 7z reader covers the methods the launcher files use), libmsi
# (msi.dll on Windows), OpenSSL (the build tool runs on Linux only), Qt (no Qt on Windows).
set -euo pipefail

prefix=$(realpath -m "${1:?usage: build-deps.sh PREFIX [JOBS]}")
jobs=${2:-$(nproc)}
here=$(cd "$(dirname "$0")" && pwd)
toolchain=$(cd "$here/../../cmake/windows" && pwd)/mingw-w64-x86_64.cmake
host=x86_64-w64-mingw32
work="$prefix.work"
packages=(xz-utils nettle boost1.74)

mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial"

# A deb-src line for each Debian archive and suite that the machine's own entries name.
sources_list="$work/apt/sources.list"
{
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && awk 'BEGIN { RS = ""; FS = "\n" }
        {
            types = uris = suites = comps = key = ""
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^#/) continue
                name = $i; sub(/:.*/, "", name)
                value = $i; sub(/^[^:]*:[ \t]*/, "", value)
                if (name == "Types") types = value
                else if (name == "URIs") uris = value
                else if (name == "Suites") suites = value
                else if (name == "Components") comps = value
                else if (name == "Signed-By") key = value
            }
            if (types !~ /(^| )deb( |$)/ || uris == "") next
            n = split(suites, s, " ")
            split(uris, u, " ")
            for (j = 1; j <= n; j++)
                printf "deb-src %s%s %s %s\n", (key != "" ? "[signed-by=" key "] " : ""), u[1], s[j], comps
        }' "$f"
    done
} | grep '/debian' | sort -u >"$sources_list" || true
if [ ! -s "$sources_list" ]; then
    echo "build-deps: no Debian archive found in /etc/apt/sources.list(.d)" >&2
    exit 1
fi

apt_options=(-o "Dir::Etc::SourceList=$sources_list" -o "Dir::Etc::SourceParts=-"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
    -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
apt-get "${apt_options[@]}" update -qq

versions=""
for p in "${packages[@]}"; do
    v=$(apt-cache "${apt_options[@]}" showsrc "$p" | sed -n 's/^Version: //p' | sort -V | tail -1)
    [ -n "$v" ] || { echo "build-deps: no source package $p" >&2; exit 1; }
    versions+="$p $v"$'\n'
done
# The headers Debian installs for Linux serve here too: Boost's are the same for every system.
versions+="googletest $(dpkg-query -W -f='${Version}' googletest)"$'\n'
versions+="libboost1.74-dev $(dpkg-query -W -f='${Version}' libboost1.74-dev)"$'\n'
compiler="compiler $($host-g++-posix -dumpfullversion) $(sha256sum "$toolchain" | cut -d' ' -f1)"
stamp_text="$versions$compiler
script $(sha256sum "$0" | cut -d' ' -f1)"
if [ -f "$prefix/stamp" ] && [ "$(cat "$prefix/stamp")" = "$stamp_text" ]; then
    echo "build-deps: $prefix is up to date"
    exit 0
fi

# Sources already unpacked at the same version are kept (Boost's take minutes to fetch), and
# so is each library already built from the same version with the same compiler.
rm -rf "$work/build" "$prefix/stamp"
mkdir -p "$prefix/include" "$prefix/lib" "$prefix/stamps" "$work/src" "$work/build"
export CFLAGS="-O2" CXXFLAGS="-O2"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

source_of() { # PACKAGE VERSION -> the unpacked folder
    local dsc="$work/src/$1_${2#*:}.dsc"
    if [ ! -f "$dsc.unpacked" ]; then
        rm -rf "$work/src/$1"[-_]*
        (cd "$work/src" && apt-get "${apt_options[@]}" source -qq "$1=$2" >/dev/null 2>&1 ||
            apt-get "${apt_options[@]}" source -qq "$1=$2")
        touch "$dsc.unpacked"
    fi
    find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -1
}
version_of() { sed -n "s/^$1 //p" <<<"$versions"; }
# is_built NAME: whether its library is there from the same inputs; mark_built records that.
is_built() { [ "$(cat "$prefix/stamps/$1" 2>/dev/null)" = "$(version_of "$1") $compiler" ]; }
mark_built() { printf '%s' "$(version_of "$1") $compiler" >"$prefix/stamps/$1"; }

if ! is_built xz-utils; then
echo "build-deps: liblzma"
src=$(source_of xz-utils "$(version_of xz-utils)")
mkdir -p "$work/build/xz" && (cd "$work/build/xz" &&
    "$src/configure" -q --host=$host --prefix="$prefix" --enable-static --disable-shared \
        --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
        --disable-scripts --disable-doc --disable-nls &&
    make -s -j"$jobs" -C src/liblzma && make -s -C src/liblzma install)
mark_built xz-utils
fi

if ! is_built nettle; then
echo "build-deps: nettle"
src=$(source_of nettle "$(version_of nettle)")
mkdir -p "$work/build/nettle" && (cd "$work/build/nettle" &&
    "$src/configure" -q --host=$host --prefix="$prefix" --enable-static --disable-shared \
        --disable-public-key --disable-documentation --disable-openssl &&
    make -s -j"$jobs" libnettle.a && make -s install-headers &&
    cp libnettle.a "$prefix/lib/")
mark_built nettle
fi

if ! is_built boost1.74; then
echo "build-deps: Boost"
src=$(source_of boost1.74 "$(version_of boost1.74)")
ln -sfn /usr/include/boost "$prefix/include/boost"
# Boost's own build system is not needed for a handful of static libraries.
mkdir -p "$work/build/boost-project"
cat >"$work/build/boost-project/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(boost_parts CXX)
set(CMAKE_CXX_STANDARD 20)
set(B "$src/libs")
add_compile_definitions(BOOST_ALL_NO_LIB BOOST_LOG_WITHOUT_EVENT_LOG BOOST_LOG_WITHOUT_SYSLOG
  BOOST_LOG_WITHOUT_IPC SECURITY_WIN32)
include_directories(SYSTEM "$prefix/include")
add_compile_options(-w)
file(GLOB regex_sources \${B}/regex/src/*.cpp)
add_library(boost_regex STATIC \${regex_sources})
file(GLOB fs_sources \${B}/filesystem/src/*.cpp)
add_library(boost_filesystem STATIC \${fs_sources})
target_compile_definitions(boost_filesystem PRIVATE BOOST_FILESYSTEM_STATIC_LINK)
file(GLOB atomic_sources \${B}/atomic/src/*.cpp)
add_library(boost_atomic STATIC \${atomic_sources})
target_compile_definitions(boost_atomic PRIVATE BOOST_ATOMIC_SOURCE BOOST_ATOMIC_STATIC_LINK)
target_include_directories(boost_atomic PRIVATE \${B}/atomic/src)
add_library(boost_thread STATIC \${B}/thread/src/win32/thread.cpp
  \${B}/thread/src/win32/tss_dll.cpp \${B}/thread/src/win32/tss_pe.cpp
  \${B}/thread/src/win32/thread_primitives.cpp \${B}/thread/src/future.cpp)
target_compile_definitions(boost_thread PRIVATE BOOST_THREAD_BUILD_LIB BOOST_THREAD_USE_LIB)
file(GLOB log_sources \${B}/log/src/*.cpp \${B}/log/src/windows/*.cpp)
list(FILTER log_sources EXCLUDE REGEX "(dump_avx2|dump_ssse3|event_log_backend|syslog_backend|ipc_|mapped_shared_memory|object_name)")
add_library(boost_log STATIC \${log_sources})
target_compile_definitions(boost_log PRIVATE BOOST_LOG_BUILDING_THE_LIB BOOST_THREAD_USE_LIB)
target_include_directories(boost_log PRIVATE \${B}/log/src)
install(TARGETS boost_regex boost_filesystem boost_atomic boost_thread boost_log
  ARCHIVE DESTINATION lib)
EOF
cmake -S "$work/build/boost-project" -B "$work/build/boost" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$work/build/boost" -j"$jobs" >/dev/null
cmake --install "$work/build/boost" >/dev/null
mark_built boost1.74
fi

if ! is_built googletest; then
echo "build-deps: GoogleTest"
cmake -S /usr/src/googletest -B "$work/build/googletest" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON "${launcher[@]}" >/dev/null
cmake --build "$work/build/googletest" -j"$jobs" >/dev/null
cmake --install "$work/build/googletest" >/dev/null
mark_built googletest
fi

rm -rf "$work/build"
printf '%s' "$stamp_text" >"$prefix/stamp"
echo "build-deps: done, $prefix"
