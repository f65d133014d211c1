#!/usr/bin/env bats
# Failures in the middle of a run that no real set-up provokes, injected by the
# preload library, and the allocation failure under an address-space limit.

load common

# The lines of a table that failed at its last row: the complete rows are
# checked as a skeleton, and the last line must be the bare prefix.
expect_failed_table() {
	local skeleton=$1 prefix=$2
	head -c -"${#prefix}" "$OUT" >"$T/complete"
	tail -c "${#prefix}" "$OUT" >"$T/open-row"
	OUT="$T/complete" expect_skeleton "$skeleton"
	expect_bytes "$T/open-row" "$prefix"
}

@test "a read error in the middle of a run: read(size) with the system's text, status 74" {
	truncate -s 1M "$T/disk"
	inject INJECT_READ_AT=3 "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n  262144     512       0    2048  '
	expect_err $'sekto: read(512): Input/output error\n'

	# a later row: the rows before it stay complete
	inject INJECT_READ_AT=10 -h 1024 -t 4096 "$T/disk"
	expect_status 74
	expect_failed_table "$(sweep_skeleton "" "8 512 0")"$'\n\n' '       4    1024       0    4096  '
	expect_err $'sekto: read(1024): Input/output error\n'
}

@test "a write error in the middle of a run: write(size), status 74" {
	truncate -s 1M "$T/disk"
	inject INJECT_WRITE_AT=2 -w -h 512 -t 4096 "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n       8     512       0    2048  '
	expect_err $'sekto: write(512): Input/output error\n'
}

@test "a positioning error reports the failing transfer's position, status 74" {
	truncate -s 1M "$T/disk"
	# the fifth transfer of the second row starts at 512 + 4 x 4096
	inject INJECT_LSEEK_AT=13 INJECT_LSEEK_ERRNO=22 -l 1024 -h 1024 -t 8192 "$T/disk"
	expect_status 74
	expect_failed_table "$(sweep_skeleton "" "8 1024 0")"$'\n' '       8    1024     512    4096  '
	expect_err $'sekto: lseek(16896): Invalid argument\n'

	# read and write each position the descriptor: the second call is the write's
	inject INJECT_LSEEK_AT=4 -r -w -h 512 -t 4096 "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n       8     512       0    2048  '
	expect_err $'sekto: lseek(2048): Input/output error\n'
}

@test "a failed clock reading, at the start or the end of a run: clock_gettime(), status 71" {
	truncate -s 1M "$T/disk"
	for at in 1 2; do
		inject INJECT_CLOCK_AT=$at INJECT_CLOCK_ERRNO=22 -h 512 -t 4096 "$T/disk"
		expect_status 71
		expect_out "$HEADER"$'\n       8     512       0    2048  '
		expect_err $'sekto: clock_gettime(): Invalid argument\n'
	done
	inject INJECT_CLOCK_AT=4 -h 1024 -t 4096 "$T/disk"
	expect_status 71
	expect_failed_table "$(sweep_skeleton "" "8 512 0")"$'\n\n' '       4    1024       0    4096  '
	expect_err $'sekto: clock_gettime(): Input/output error\n'
}

@test "an allocation refused under an address-space limit: malloc(), status 71" {
	[ -z "${SEKTO_SANITIZED:-}" ] || skip "the sanitizers reserve more address space than the limit"
	truncate -s 2G "$T/disk"
	status=0
	(ulimit -v 262144 && exec sekto -l 1g -h 1g -t 1g "$T/disk") >"$OUT" 2>"$ERR" || status=$?
	expect_status 71
	expect_out "$HEADER"$'\n       11073741824       04294967296  '
	expect_err $'sekto: malloc(): Cannot allocate memory\n'
}

@test "inside the timed interval no page of the buffer is faulted in" {
	truncate -s 128M "$T/disk"
	inject INJECT_FAULTS="$T/faults" -l 64m -h 64m -t 64m "$T/disk"
	expect_status 0
	# one row at offset 0 and one per power of two from 512 below 64 MiB
	[ "$(wc -l <"$T/faults")" -eq 18 ]
	# a 64 MiB buffer spans 16384 pages; a handful of faults elsewhere is allowed
	awk '$1 > 8 { print "row " NR ": " $1 " page faults"; bad = 1 } END { exit bad }' "$T/faults"
}
