#!/usr/bin/env bats
# RAM-backed loop devices: the sweep follows the logical sector size, and
# direct I/O takes every transfer to the device.

load common

loop_or_skip() {
	need_root "loop devices are set up with losetup"
	LOOP=$(make_loop "$1" "$2") || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
}

# The default sweep on a loop device of the given sector size must print the
# given rows and make exactly the given number of completed reads.
expect_default_sweep() {
	local sector=$1 reads=$2 before after
	shift 2
	loop_or_skip 512M "$sector"
	before=$(reads_of "$LOOP")
	sk "$LOOP"
	after=$(reads_of "$LOOP")
	expect_status 0
	expect_err ""
	expect_skeleton "$(sweep_skeleton "$@")"$'\n'
	[ $((after - before)) -eq "$reads" ] || { echo "$((after - before)) reads, wanted $reads"; false; }
}

@test "512-byte sectors: the default sweep, each transfer one completed read" {
	expect_default_sweep 512 $((262144 + 2 * 131072 + 3 * 65536 + 4 * 32768)) \
		"" "262144 512 0" \
		"" "131072 1024 0" "131072 1024 512" \
		"" "65536 2048 0" "65536 2048 512" "65536 2048 1024" \
		"" "32768 4096 0" "32768 4096 512" "32768 4096 1024" "32768 4096 2048"
}

@test "4096-byte sectors: groups of 1, 2, 3 and 4 rows, each transfer one completed read" {
	expect_default_sweep 4096 $((32768 + 2 * 16384 + 3 * 8192 + 4 * 4096)) \
		"" "32768 4096 0" \
		"" "16384 8192 0" "16384 8192 4096" \
		"" "8192 16384 0" "8192 16384 4096" "8192 16384 8192" \
		"" "4096 32768 0" "4096 32768 4096" "4096 32768 8192" "4096 32768 16384"
}

@test "a minsize below the sector size fails its check, status 64" {
	loop_or_skip 1M 4096
	sk -l 512 "$LOOP"
	expect_status 64
	expect_out ""
	expect_err $'sekto: minsize (512) is not a multiple of block size (4096)\n'
}

@test "the end of a block device is a short read that leaves the row open, status 74" {
	loop_or_skip 1M 512
	sk "$LOOP"
	expect_status 74
	expect_out "$HEADER"$'\n  262144     512       0    2048  '
	expect_err $'sekto: short read: 0 < 512\n'
}

@test "direct I/O that cannot be turned on ends with fcntl(device, O_DIRECT), status 71" {
	loop_or_skip 1M 512
	inject INJECT_SETFL_ERRNO=22 "$LOOP"
	expect_status 71
	expect_out ""
	expect_err "sekto: fcntl($LOOP, O_DIRECT): Invalid argument"$'\n'
}
