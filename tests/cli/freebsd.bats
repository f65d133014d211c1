#!/usr/bin/env bats
# The FreeBSD check catches what a FreeBSD build would: it compiles the
# FreeBSD branch, not the Linux one, with g++ and with clang++.

load common

CHECK="$BATS_TEST_DIRNAME/../../tools/check-freebsd.sh"
SRC="$BATS_TEST_DIRNAME/../../src"

# A copy of the sources with platform.cc edited by the sed script $1.
mutant() {
	mkdir -p "$T/src"
	cp "$SRC"/*.h "$T/src/"
	sed "$1" "$SRC/platform.cc" >"$T/src/platform.cc"
	! cmp -s "$SRC/platform.cc" "$T/src/platform.cc" || { echo "the edit $1 changed nothing"; false; }
}

check() {
	status=0
	sh "$CHECK" "$@" >"$OUT" 2>"$ERR" </dev/null || status=$?
}

@test "the FreeBSD check fails on a misspelt ioctl and on a sysctl length that is no pointer, and names the file" {
	command -v g++ >/dev/null && command -v clang++ >/dev/null || skip "needs g++ and clang++"
	check "$SRC/platform.cc"
	expect_status 0
	expect_out $'check-freebsd: 2 compilations passed (g++ clang++)\n'

	while IFS='|' read -r edit diagnostic; do
		mutant "$edit"
		check "$T/src/platform.cc"
		expect_status 1
		expect_out "check-freebsd: g++: $T/src/platform.cc fails
check-freebsd: clang++: $T/src/platform.cc fails
check-freebsd: 2 of 2 compilations failed (g++ clang++)
"
		grep -q -- "$diagnostic" "$ERR" || { echo "$edit:"; cat "$ERR"; false; }
	done <<-'CASES'
		s/DIOCGSECTORSIZE, &ss/DIOCGSECTORSIZ, \&ss/|DIOCGSECTORSIZ
		s/path, &len, nullptr/path, len, nullptr/|sysctl
	CASES
}
