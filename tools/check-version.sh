#!/bin/sh
# The version stands in CMake's project(), the Debian changelog and both
# manual pages; they must be one number.
set -eu
cd "$(dirname "$0")/.."

cmake=$(sed -n 's/^project(sekto VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
deb=$(sed -n '1s/^sekto (\([^)]*\)).*/\1/p' debian/changelog)
status=0
[ -n "$cmake" ] || { echo "check-version: no version in CMakeLists.txt" >&2; exit 1; }
[ "$deb" = "$cmake" ] || { echo "check-version: debian/changelog has $deb, CMakeLists.txt $cmake" >&2; status=1; }
for page in sekto.1 sekto-verdict.1; do
	os=$(sed -n 's/^\.Os sekto //p' "$page")
	[ "$os" = "$cmake" ] || { echo "check-version: $page has ${os:-none}, CMakeLists.txt $cmake" >&2; status=1; }
done
[ "$status" -ne 0 ] || echo "check-version: $cmake everywhere"
exit "$status"
