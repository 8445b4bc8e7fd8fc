#!/bin/sh
# Installs the Debian packages of the list that this machine lacks, so that `make demo`
# and `make test` are all the set-up a fresh Debian machine needs. As root it runs
# apt-get; otherwise through sudo when sudo asks no password; elsewhere (not Debian, or
# no right to install) it names what is missing and leaves the build to say what fails.
set -u
command -v dpkg-query >/dev/null 2>&1 || exit 0
missing=""
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    as_root="sudo -n"
else
    echo "Missing Debian packages:$missing (install them: apt-get install$missing)" >&2
    exit 0
fi
echo "Installing the Debian packages this build needs:$missing"
export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update -qq &&
    $as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends $missing >/dev/null
