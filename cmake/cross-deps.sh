#!/bin/sh
# The libraries the Windows build needs that Debian ships for Linux only (libtiff,
# libpng), cross-built with MinGW-w64 from Debian's own source packages, once per
# build folder: the same sources, with Debian's security patches, as the Linux build's.
#
# Usage: sh cmake/cross-deps.sh <build folder>
# Installs into <build folder>/deps/install (static libraries, headers, CMake files).
# Sources come through a private apt configuration derived from the machine's own
# (its suites with deb-src added), whose lists and cache stay in <build folder>/deps:
# nothing under /etc or /var is changed. Needs dpkg-dev (dpkg-source), cmake, the
# cross compiler and libz-mingw-w64-dev (zlib for MinGW, linked statically).
set -eu

source_dir=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: sh cmake/cross-deps.sh <build folder>" >&2; exit 2; }
mkdir -p "$1"
deps=$(cd "$1" && pwd)/deps
install="$deps/install"
stamp="$install/.complete"
# The packages, in the order they are built.
packages="tiff libpng1.6"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$packages" ]; then
    exit 0
fi

triplet=x86_64-w64-mingw32
zlib=/usr/$triplet/lib/libz.a
if [ ! -f "$zlib" ]; then
    echo "cross-deps: $zlib is missing (Debian: apt-get install libz-mingw-w64-dev)" >&2
    exit 1
fi
if ! command -v dpkg-source >/dev/null 2>&1; then
    echo "cross-deps: dpkg-source is missing (Debian: apt-get install dpkg-dev)" >&2
    exit 1
fi

# The machine's suites, each also as a source suite.
apt="$deps/apt"
rm -rf "$apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
: > "$apt/sources.list"
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*\)/deb-src \1/p' /etc/apt/sources.list > "$apt/sources.list"
fi
for parts in /etc/apt/sources.list.d/*.sources; do
    [ -f "$parts" ] || continue
    sed 's/^Types:.*/Types: deb deb-src/' "$parts" > "$apt/sources.list.d/$(basename "$parts")"
done
for parts in /etc/apt/sources.list.d/*.list; do
    [ -f "$parts" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*\)/deb-src \1/p' "$parts" >> "$apt/sources.list"
done
cat > "$apt/apt.conf" <<EOF
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
EOF
# As root, apt would hand the downloads to its own user, who cannot write here.
if [ "$(id -u)" = 0 ]; then
    echo 'APT::Sandbox::User "root";' >> "$apt/apt.conf"
fi
export APT_CONFIG="$apt/apt.conf"
echo "cross-deps: reading the source lists of this machine's suites"
apt-get -qq update

# The newest version of a source package that the archive still serves: a security
# suite's index may name a version its mirror no longer holds.
fetch_source() {
    for version in $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -u -r -V); do
        rm -rf "$deps/src" && mkdir -p "$deps/src"
        if (cd "$deps/src" && apt-get -qq source "$1=$version" >"$deps/source-$1.log" 2>&1); then
            echo "cross-deps: $1 $version"
            return 0
        fi
    done
    echo "cross-deps: no version of the source package $1 could be fetched (see $deps/source-$1.log)" >&2
    return 1
}

# build NAME CMAKE-OPTIONS...: the package's own CMake build, static, into $install.
build() {
    name=$1
    shift
    tree=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    rm -rf "$deps/build-$name"
    echo "cross-deps: building $name for Windows"
    if ! cmake -S "$tree" -B "$deps/build-$name" \
            -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$install" \
            -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$triplet/include" \
            "$@" > "$deps/build-$name.log" 2>&1 ||
       ! cmake --build "$deps/build-$name" -j "${JOBS:-2}" >> "$deps/build-$name.log" 2>&1 ||
       ! cmake --install "$deps/build-$name" >> "$deps/build-$name.log" 2>&1; then
        echo "cross-deps: the build of $name failed (see $deps/build-$name.log)" >&2
        return 1
    fi
}

rm -rf "$install"
# libtiff with the codecs of GIS tools' elevation models that zlib gives (Deflate,
# and LZW, PackBits of its own); the others would need more libraries cross-built.
fetch_source tiff
build tiff -DBUILD_SHARED_LIBS=OFF -Dzlib=ON -Dlibdeflate=OFF -Djpeg=OFF -Dold-jpeg=OFF \
    -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF \
    -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF
fetch_source libpng1.6
build libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
rm -rf "$deps/src"
echo "$packages" > "$stamp"
