#!/bin/sh
# Compiles sources as FreeBSD would see them, against glibc's headers dressed
# up as FreeBSD's libc and the project's own declarations of what only
# FreeBSD has. It proves that the FreeBSD paths use FreeBSD's declared names
# and types; it builds, links and runs nothing.
#
#   check-freebsd.sh [file ...]      (default: every src/*.cc)
#
# One line per file that fails, on standard output with the summary; the
# compilers' diagnostics on standard error. CXXS names the compilers.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
compilers=${CXXS:-"g++ clang++"}
[ "$#" -gt 0 ] || set -- "$top"/src/*.cc

flags="-std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
	-U__linux__ -U__linux -Ulinux -U__gnu_linux__ -D__FreeBSD__=14
	-I$top/tools/freebsd/include -include $top/tools/freebsd/freebsd.h -I$top/src"
checked=0
failed=0
for cxx in $compilers; do
	if ! command -v "$cxx" >/dev/null 2>&1; then
		echo "check-freebsd: $cxx is not installed"
		failed=$((failed + 1))
		continue
	fi
	for src in "$@"; do
		checked=$((checked + 1))
		# shellcheck disable=SC2086
		if ! "$cxx" $flags "$src" >&2; then
			echo "check-freebsd: $cxx: ${src#"$top"/} fails"
			failed=$((failed + 1))
		fi
	done
done
if [ "$failed" -ne 0 ]; then
	echo "check-freebsd: $failed of $checked compilations failed ($compilers)"
	exit 1
fi
echo "check-freebsd: $checked compilations passed ($compilers)"
