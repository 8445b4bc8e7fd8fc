#!/bin/sh
# A session whose two epochs are URLs read through GDAL's /vsicurl/, served by Python's
# own HTTP server on 127.0.0.1, against the same session on the files themselves, read
# by GDAL too (--gdal): the same files, byte for byte, the report's names of the inputs
# aside.
#
# Usage: sh tests/vsicurl_session.sh PROGRAM FOLDER-OF-THE-EPOCHS
# Exit 77 (a skip) where Python 3 is missing or the program's GDAL has no curl.
# Python's server answers no byte ranges: GDAL takes the whole file of the first answer,
# which works for files smaller than its first read (16 KB), as these epochs are.
set -eu

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
data=$2
first=dem_2015.tif
second=dem_2020.tif

if ! command -v python3 >/dev/null 2>&1; then
    echo "skipped: no python3 to serve the files"
    exit 77
fi
# GDAL reaches URLs through libcurl, which the program loads with it.
if ! ldd "$program" 2>/dev/null | grep -q libcurl; then
    echo "skipped: the program's GDAL reads no URLs (it is built without curl)"
    exit 77
fi

scratch=$(mktemp -d)
server=
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    [ -n "${KEEP:-}" ] || rm -rf "$scratch"
}
trap cleanup EXIT INT TERM
mkdir "$scratch/served" "$scratch/local" "$scratch/remote"
cp "$data/$first" "$data/$second" "$scratch/served/"
cp "$data/$first" "$data/$second" "$scratch/local/"

# Port 0: the system gives a free port, which the server prints.
(cd "$scratch/served" && exec python3 -u -m http.server 0 --bind 127.0.0.1) \
    > "$scratch/server.log" 2>&1 &
server=$!
port=
tries=0
while [ -z "$port" ]; do
    port=$(sed -n 's/.* port \([0-9][0-9]*\) .*/\1/p' "$scratch/server.log" | head -n 1)
    [ -n "$port" ] && break
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "the HTTP server did not start:" >&2
        cat "$scratch/server.log" >&2
        exit 1
    fi
    sleep 0.1
done
url=/vsicurl/http://127.0.0.1:$port

# No proxy of the machine's between the program and the server.
export NO_PROXY=127.0.0.1 no_proxy=127.0.0.1
(cd "$scratch/local" && "$program" "$first" "$second" out.asc --kind absolute --gdal) > "$scratch/local.log" 2>&1 || {
    echo "the session on the files failed:" >&2
    cat "$scratch/local.log" >&2
    exit 1
}
(cd "$scratch/remote" && "$program" "$url/$first" "$url/$second" out.asc --kind absolute) \
    > "$scratch/remote.log" 2>&1 || {
    echo "the session on the URLs failed:" >&2
    cat "$scratch/remote.log" >&2
    exit 1
}
# The server was asked for both files.
for name in $first $second; do
    grep -q "GET /$name " "$scratch/server.log" || {
        echo "the server was never asked for $name:" >&2
        cat "$scratch/server.log" >&2
        exit 1
    }
done

status=0
written=$(cd "$scratch/local" && ls | grep -v -x -e "$first" -e "$second")
[ -n "$written" ] || { echo "the session on the files wrote nothing" >&2; exit 1; }
# The report names each input as it was given.
sed "s|$url/||g" "$scratch/remote/out_report.html" > "$scratch/report.html"
mv "$scratch/report.html" "$scratch/remote/out_report.html"
for name in $written; do
    if ! cmp "$scratch/local/$name" "$scratch/remote/$name"; then
        status=1
    fi
done
remote_written=$(cd "$scratch/remote" && ls)
if [ "$remote_written" != "$written" ]; then
    echo "the sessions wrote different files: $(echo $written) against $(echo $remote_written)" >&2
    status=1
fi
[ $status -eq 0 ] && echo "the session on the URLs wrote the files of the session on the files: $(echo $written)"
exit $status
