#!/bin/sh
# Installs the Debian packages listed in tools/packages.txt that are not installed yet.
# Runs apt-get directly as root, through sudo otherwise. Does nothing when all are present.
set -eu
here=$(dirname "$0")
missing=""
for pkg in $(grep -v '^[[:space:]]*#' "$here/packages.txt" | tr -s ' \t' '\n' | grep -v '^$'); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "Installing missing packages:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
