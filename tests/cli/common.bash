# Shared set-up of the black-box tests. SEKTO, VERDICT, PTYRUN and INJECT name
# the built programs, the pseudo-terminal runner and the fault-injection library.

bats_require_minimum_version 1.5.0

HEADER=$'   count    size  offset    step        msec     tps    kBps\n'
USAGE=$'usage: sekto [-rsw] [-l minsize] [-h maxsize] [-t total] device\n'

setup() {
	: "${SEKTO:?SEKTO must name the built binary}"
	# Run through a link called sekto, so that getopt and err both print that name.
	mkdir -p "$BATS_TEST_TMPDIR/bin"
	ln -sf "$SEKTO" "$BATS_TEST_TMPDIR/bin/sekto"
	[ -z "${VERDICT:-}" ] || ln -sf "$VERDICT" "$BATS_TEST_TMPDIR/bin/sekto-verdict"
	PATH="$BATS_TEST_TMPDIR/bin:$PATH"
	OUT="$BATS_TEST_TMPDIR/stdout"
	ERR="$BATS_TEST_TMPDIR/stderr"
	T="$BATS_TEST_TMPDIR"
	LOOPS=()
}

teardown() {
	[ -z "${MNT:-}" ] || umount "$MNT" 2>/dev/null || true
	local l
	for l in "${LOOPS[@]}"; do
		losetup -d "$l" 2>/dev/null || true
	done
	rm -f /dev/shm/sekto-test-"$BATS_TEST_NUMBER"-* 2>/dev/null || true
}

# Runs sekto with standard output and standard error in files; sets status.
sk() {
	status=0
	sekto "$@" >"$OUT" 2>"$ERR" </dev/null || status=$?
}

# Runs sekto-verdict with standard output and standard error in files; sets status.
sv() {
	status=0
	sekto-verdict "$@" >"$OUT" 2>"$ERR" </dev/null || status=$?
}

# Runs sekto under the preload library, with the given variables set.
inject() {
	local vars=()
	while [ "$#" -gt 0 ] && [[ "$1" == *=* ]]; do
		vars+=("$1")
		shift
	done
	status=0
	env "${vars[@]}" LD_PRELOAD="$INJECT" sekto "$@" >"$OUT" 2>"$ERR" </dev/null || status=$?
}

# Compares a file with the exact bytes given, and shows the difference.
expect_bytes() {
	printf '%s' "$2" >"$T/.expected"
	if ! cmp -s "$T/.expected" "$1"; then
		echo "$1 is not as expected; wanted, then got:"
		od -c "$T/.expected" | head -40
		od -c "$1" | head -40
		return 1
	fi
}

expect_out() { expect_bytes "$OUT" "$1"; }
expect_err() { expect_bytes "$ERR" "$1"; }

expect_status() {
	if [ "$status" -ne "$1" ]; then
		echo "status $status, wanted $1; stderr:"
		cat "$ERR"
		return 1
	fi
}

# The table with each row's results checked and replaced by "~": the first
# four columns must be exact, the three results right-aligned numbers in
# fields of 10, 8 and 8 characters.
skeleton() {
	awk 'NR == 1 || $0 == "" { print; next }
	{
		suf = substr($0, 35)
		if (length($0) == 60 && substr(suf, 1, 10) ~ /^ *[0-9]+$/ &&
		    substr(suf, 11, 8) ~ /^ *[0-9]+$/ && substr(suf, 19, 8) ~ /^ *[0-9]+$/)
			print substr($0, 1, 34) "~"
		else
			print "MALFORMED: " $0
	}' "$1"
}

expect_skeleton() {
	skeleton "$OUT" >"$T/got-skeleton"
	printf '%s' "$1" >"$T/want-skeleton"
	diff -u "$T/want-skeleton" "$T/got-skeleton"
}

# The row prefix of a run of count transfers of size bytes from offset, step 4 x size.
prefix() {
	printf '%8u%8u%8u%8u  ' "$1" "$2" "$3" $(($2 * 4))
}

# The expected skeleton of a sweep, row by row from "count size offset" triples;
# an empty argument stands for the empty line before a group.
sweep_skeleton() {
	local r
	printf '%s' "$HEADER"
	for r in "$@"; do
		if [ -z "$r" ]; then
			echo
		else
			printf '%s~\n' "$(prefix $r)"
		fi
	done
}

need_root() {
	[ "$(id -u)" -eq 0 ] || skip "needs root: $1"
}

# A RAM-backed loop device of the given size and sector size; prints its path.
make_loop() {
	local img="/dev/shm/sekto-test-$BATS_TEST_NUMBER-$RANDOM.img" dev
	truncate -s "$1" "$img"
	dev=$(losetup -f --show --sector-size "$2" "$img") || return 1
	echo "$dev"
}

# The completed reads of a block device.
reads_of() {
	awk '{ print $1 }' "/sys/block/${1#/dev/}/stat"
}

# Waits up to five seconds for a file to hold at least n bytes.
wait_for_bytes() {
	local i
	for i in $(seq 50); do
		[ "$(wc -c <"$1")" -ge "$2" ] && return 0
		sleep 0.1
	done
	return 1
}
