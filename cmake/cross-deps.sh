#!/bin/sh
# The libraries the Windows build needs that Debian ships for Linux only (libtiff with
# the codecs of Debian's own, libpng, PROJ and its SQLite, GDAL), cross-built with
# MinGW-w64 from Debian's own source packages, each once per build folder: the same
# sources, with Debian's security patches, as the Linux build's.
#
# Usage: sh cmake/cross-deps.sh <build folder>
# Installs into <build folder>/deps/install (static libraries, headers, CMake files).
# Sources come through a private apt configuration derived from the machine's own
# (its suites with deb-src added), whose lists and cache stay in <build folder>/deps:
# nothing under /etc or /var is changed. Needs dpkg-dev (dpkg-source), cmake, make, the
# cross compiler, libz-mingw-w64-dev (zlib for MinGW, linked statically), and for
# SQLite and PROJ's database the build machine's C compiler, tclsh (tcl) and sqlite3.
set -eu

source_dir=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: sh cmake/cross-deps.sh <build folder>" >&2; exit 2; }
mkdir -p "$1"
deps=$(cd "$1" && pwd)/deps
install="$deps/install"
# One stamp per package built, in $stamps: a package is built again when its stamp is
# missing, and so is every package after it (they were built against it).
stamps="$install/.stamps"
# The packages, in the order they are built.
packages="libzstd xz-utils lerc libdeflate libjpeg-turbo libwebp tiff libpng1.6 sqlite3 proj gdal"

# A folder whose libraries were built when one stamp stood for all of them.
if [ -f "$install/.complete" ] && [ ! -d "$stamps" ]; then
    mkdir -p "$stamps"
    for package in $(cat "$install/.complete"); do
        echo "$package" > "$stamps/$package"
    done
    rm -f "$install/.complete"
fi
missing=
for package in $packages; do
    [ -n "$missing" ] || [ -f "$stamps/$package" ] || missing=$package
done
[ -n "$missing" ] || exit 0

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

# The machine's suites, each also as a source suite, read once, when a first source
# package is needed.
apt="$deps/apt"
read_suites() {
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
    suites_read=1
}
suites_read=

# The newest version of a source package that the archive still serves: a security
# suite's index may name a version its mirror no longer holds.
fetch_source() {
    if [ -z "$suites_read" ]; then read_suites; fi
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

# The source tree fetched.
source_tree() {
    find "$deps/src" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# build NAME CMAKE-OPTIONS...: the package's own CMake build, static, into $install.
# Only its libraries are built where it lets its programs, tests and documents be left
# out; else TARGET names the one target to build and COMPONENT what to install of it
# (none: INSTALL names a function that installs it). CMAKE_LISTS, when set, is the
# folder of the package's CMakeLists.txt in its tree.
build() {
    name=$1
    shift
    tree=$(source_tree)/${CMAKE_LISTS:-}
    work="$deps/build-$name"
    rm -rf "$work"
    echo "cross-deps: building $name for Windows"
    if ! cmake -S "$tree" -B "$work" \
            -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$install" \
            -DZLIB_LIBRARY="$zlib" -DZLIB_INCLUDE_DIR="/usr/$triplet/include" -DBUILD_TESTING=OFF \
            "$@" > "$work.log" 2>&1 ||
       ! cmake --build "$work" -j "${JOBS:-2}" ${TARGET:+--target "$TARGET"} >> "$work.log" 2>&1 ||
       ! if [ -n "${INSTALL:-}" ]; then "$INSTALL" "$tree" "$work"; else
             cmake --install "$work" ${COMPONENT:+--component "$COMPONENT"}; fi >> "$work.log" 2>&1; then
        echo "cross-deps: the build of $name failed (see $work.log)" >&2
        return 1
    fi
    TARGET= COMPONENT= INSTALL= CMAKE_LISTS=
}

# libjpeg-turbo installs its programs with its library: the library and its headers alone.
install_jpeg() {
    cp "$2/libjpeg.a" "$lib/" &&
    cp "$2/jconfig.h" "$1/jpeglib.h" "$1/jmorecfg.h" "$1/jerror.h" "$include/"
}

# libdeflate has a Makefile of its own, which names its static library for MinGW as
# for Microsoft's linker: only that library is made.
build_libdeflate() {
    tree=$(source_tree)
    echo "cross-deps: building libdeflate for Windows"
    if ! (make -C "$tree" -j "${JOBS:-2}" CC="$triplet-gcc-posix" AR="$triplet-ar" libdeflatestatic.lib &&
          cp "$tree/libdeflatestatic.lib" "$lib/libdeflate.a" && cp "$tree/libdeflate.h" "$include/") \
            > "$deps/build-libdeflate.log" 2>&1; then
        echo "cross-deps: the build of libdeflate failed (see $deps/build-libdeflate.log)" >&2
        return 1
    fi
}

# SQLite for PROJ's database: its one-file form is generated by the build machine's own
# tools (its C compiler and tclsh), then compiled for Windows.
build_sqlite() {
    tree=$(source_tree)
    work="$deps/build-sqlite3"
    rm -rf "$work"
    mkdir -p "$work"
    echo "cross-deps: building sqlite3 for Windows"
    if ! (cd "$work" && "$tree/configure" --disable-tcl --disable-readline --disable-shared &&
          make sqlite3.c &&
          "$triplet-gcc-posix" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c &&
          "$triplet-ar" rcs "$lib/libsqlite3.a" sqlite3.o &&
          cp sqlite3.h sqlite3ext.h "$include/") > "$work.log" 2>&1; then
        echo "cross-deps: the build of sqlite3 failed (see $work.log)" >&2
        return 1
    fi
}

# One package: its source fetched, built and installed.
build_package() {
    fetch_source "$1"
    case $1 in
    # The codec libraries of Debian's libtiff (tiffinfo's list of codecs on Linux) but
    # JBIG's, whose one-bit samples the reader refuses: ZSTD, LZMA, LERC, JPEG, WebP,
    # and libdeflate for a faster Deflate.
    libzstd)
        CMAKE_LISTS=build/cmake build zstd -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
            -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF \
            -DZSTD_LEGACY_SUPPORT=OFF ;;
    xz-utils)
        TARGET=liblzma COMPONENT=liblzma_Development build xz -DBUILD_SHARED_LIBS=OFF ;;
    lerc)
        build lerc -DBUILD_SHARED_LIBS=OFF ;;
    libdeflate)
        build_libdeflate ;;
    libjpeg-turbo)
        # Its SIMD code needs the nasm assembler: the C code decodes the same samples.
        TARGET=jpeg-static INSTALL=install_jpeg build jpeg -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
            -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF ;;
    libwebp)
        build webp -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
            -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF \
            -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF \
            -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF ;;
    # libtiff with them, each named where it is, as static libraries (their headers then
    # declare nothing as imported from a DLL).
    tiff)
        build tiff -DBUILD_SHARED_LIBS=OFF -Dzlib=ON -Djbig=OFF \
            -Djpeg=ON -Dold-jpeg=ON -DJPEG_INCLUDE_DIR="$include" -DJPEG_LIBRARY="$lib/libjpeg.a" \
            -Dwebp=ON -DWebP_INCLUDE_DIR="$include" -DWebP_LIBRARY="$lib/libwebp.a" \
            -Dzstd=ON -DZSTD_INCLUDE_DIR="$include" -DZSTD_LIBRARY="$lib/libzstd.a" \
            -Dlzma=ON -DLIBLZMA_INCLUDE_DIR="$include" -DLIBLZMA_LIBRARY="$lib/liblzma.a" \
            -Dlerc=ON -DLERC_INCLUDE_DIR="$include" -DLERC_LIBRARY="$lib/libLerc.a" \
            -Dlibdeflate=ON -DDeflate_INCLUDE_DIR="$include" -DDeflate_LIBRARY="$lib/libdeflate.a" \
            -DCMAKE_C_FLAGS="-DLZMA_API_STATIC -DLERC_STATIC" \
            -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF ;;
    libpng1.6)
        build libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF ;;
    sqlite3)
        build_sqlite ;;
    # PROJ with neither its network access (curl) nor its grids in TIFF files; proj.db
    # is made with the build machine's sqlite3 program, and sqlite3 linked after PROJ.
    proj)
        build proj -DBUILD_SHARED_LIBS=OFF -DENABLE_CURL=OFF -DENABLE_TIFF=OFF -DBUILD_APPS=OFF \
            -DNLOHMANN_JSON_ORIGIN=internal -DEXE_SQLITE3="$(command -v sqlite3)" \
            -DSQLITE3_INCLUDE_DIR="$include" -DSQLITE3_LIBRARY="$lib/libsqlite3.a" ;;
    # GDAL for the input form of any other raster: its library alone, with the drivers
    # of the elevation forms (GeoTIFF, VRT, Erdas Imagine, the raw family with EHdr/BIL,
    # SRTM HGT, USGS DEM, ASCII grid, XYZ) and none of the optional others; on PROJ,
    # libtiff and zlib above, with its own copies of libgeotiff and json-c; no network
    # (no curl), no programs, no bindings.
    gdal)
        build gdal -DBUILD_SHARED_LIBS=OFF -DBUILD_APPS=OFF -DBUILD_DOCS=OFF \
            -DBUILD_PYTHON_BINDINGS=OFF -DBUILD_JAVA_BINDINGS=OFF -DBUILD_CSHARP_BINDINGS=OFF \
            -DENABLE_GNM=OFF -DGDAL_USE_EXTERNAL_LIBS=OFF -DGDAL_USE_INTERNAL_LIBS=OFF \
            -DGDAL_BUILD_OPTIONAL_DRIVERS=OFF -DOGR_BUILD_OPTIONAL_DRIVERS=OFF \
            -DGDAL_ENABLE_DRIVER_RAW=ON -DGDAL_ENABLE_DRIVER_SRTMHGT=ON \
            -DGDAL_ENABLE_DRIVER_USGSDEM=ON -DGDAL_ENABLE_DRIVER_AAIGRID=ON \
            -DGDAL_ENABLE_DRIVER_XYZ=ON \
            -DPROJ_DIR="$lib/cmake/proj" \
            -DGDAL_USE_TIFF=ON -DTIFF_INCLUDE_DIR="$include" -DTIFF_LIBRARY="$lib/libtiff.a" \
            -DGDAL_USE_ZLIB=ON -DGDAL_USE_GEOTIFF_INTERNAL=ON -DGDAL_USE_JSONC_INTERNAL=ON \
            -DGDAL_USE_CURL=OFF ;;
    esac
}

TARGET= COMPONENT= INSTALL= CMAKE_LISTS=
lib=$install/lib
include=$install/include
# The first package without its stamp, and every one after it.
if [ ! -d "$stamps" ]; then
    rm -rf "$install"
fi
mkdir -p "$lib" "$include" "$stamps"
building=
for package in $packages; do
    [ "$package" = "$missing" ] && building=1
    [ -n "$building" ] || continue
    rm -f "$stamps/$package"
    build_package "$package"
    echo "$package" > "$stamps/$package"
done
rm -rf "$deps/src"
