#!/bin/sh
# Runs a Windows program of the cross build under Wine, in the build folder's own
# Wine prefix, so that c:\images\ there is a scratch root folder and nothing of the
# user's own Wine setup is touched.
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
set -eu
prefix=$1
shift
loader=${WINELOADER:-}
if [ -z "$loader" ]; then
    # Debian's wine64 package has no `wine` on the PATH, only the loader itself.
    for candidate in wine64 wine /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
        if command -v "$candidate" >/dev/null 2>&1; then
            loader=$(command -v "$candidate")
            break
        fi
    done
fi
if [ -z "$loader" ]; then
    echo "wine-run.sh: no Wine loader found (apt-get install wine64)" >&2
    exit 127
fi
export WINEPREFIX="$prefix"
export WINELOADER="$loader"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogues when the prefix is first made.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c/images" ]; then
    mkdir -p "$prefix"
    # Several tests may start at once; one of them makes the prefix.
    flock "$prefix/../.wineprefix.lock" sh -c '
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$WINELOADER" wineboot --init >/dev/null 2>&1 </dev/null || true
            "$(dirname "$WINELOADER")/wineserver" -w 2>/dev/null || true
        fi
        mkdir -p "$WINEPREFIX/drive_c/images"'
fi
exec "$loader" "$@"
