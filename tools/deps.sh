#!/bin/sh
# Installs the Debian packages that building (deps.sh build), testing
# (deps.sh test), the FreeBSD check (deps.sh freebsd) or packaging
# (deps.sh deb) needs and that this machine lacks. Elsewhere, or without root,
# it names what is missing and leaves the rest to the build.
set -eu

build="cmake make g++ pkg-config nlohmann-json3-dev"
test="$build libgtest-dev bats perl jq util-linux mount e2fsprogs fdisk strace fuse3 libfuse3-dev
	libxml2-utils librsvg2-bin bash-completion zsh"
# what debian/control's Build-Depends names, and the tools that build the package
# the compilers and headers of make check-freebsd
freebsd="g++ clang nlohmann-json3-dev"
deb="debhelper dpkg-dev cmake nlohmann-json3-dev libgtest-dev"
case "${1:-build}" in
build) want=$build ;;
test) want=$test ;;
freebsd) want=$freebsd ;;
deb) want=$deb ;;
*) echo "usage: deps.sh build|test|freebsd|deb" >&2; exit 64 ;;
esac

command -v dpkg-query >/dev/null 2>&1 || exit 0
missing=""
for pkg in $want; do
	dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
		missing="$missing $pkg"
done
[ -n "$missing" ] || exit 0
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
	echo "deps.sh: missing packages:$missing (install them as root: apt-get install$missing)" >&2
	exit 0
fi
echo "deps.sh: installing$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
