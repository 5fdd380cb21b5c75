#!/bin/sh
# Installs the Debian packages given as arguments that are not installed yet.
# Runs `apt-get update` once, only when something is missing. As root it
# installs directly; otherwise through sudo when there is one; otherwise (or
# when sudo is refused) it stops and lists the packages for an administrator.
set -e
missing=""
for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

give_up() {
    echo "install-deps: $1" >&2
    echo "install-deps: these Debian packages are needed and not installed:$missing" >&2
    echo "install-deps: as root, run: apt-get install$missing" >&2
    exit 1
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || give_up "not root and no sudo to install with"
    SUDO="sudo"
fi
echo "Installing missing packages:$missing"
export DEBIAN_FRONTEND=noninteractive
# sudo keeps DEBIAN_FRONTEND only when asked to.
if [ -n "$SUDO" ]; then
    SUDO="sudo DEBIAN_FRONTEND=noninteractive"
fi
$SUDO apt-get update -qq || give_up "apt-get update failed"
$SUDO apt-get install -y -qq --no-install-recommends $missing || give_up "apt-get install failed"
