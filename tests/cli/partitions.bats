#!/usr/bin/env bats
# sekto-verdict -p on the simulated drive: a DOS partition table written by
# sfdisk and listed by partx, the disk swept once, each partition judged
# against the boundary that the disk pays at. And a device that does not
# start at byte 0, judged alone.

load common
load sim

# Writes a DOS table with the partitions given as start:size in sectors, and
# has the kernel list them; sets PARTS to their sysfs names.
partition() {
	command -v sfdisk >/dev/null && command -v partx >/dev/null || skip "needs sfdisk and partx (fdisk, util-linux)"
	local p
	# the kernel keeps partitions that partx listed after their loop device is gone
	partx -d "$SIM_LOOP" 2>/dev/null || true
	{
		echo "label: dos"
		for p in "$@"; do echo "start=${p%:*}, size=${p#*:}"; done
	} | sfdisk -q "$SIM_LOOP" >/dev/null 2>"$T/sfdisk.err" || { cat "$T/sfdisk.err"; skip "sfdisk cannot write a table here"; }
	partx -a "$SIM_LOOP" 2>/dev/null || partx -u "$SIM_LOOP" || skip "partx cannot list partitions here"
	PARTS=($(ls "/sys/block/${SIM_LOOP#/dev/}" | grep "^${SIM_LOOP#/dev/}p" | sort -V))
	[ "${#PARTS[@]}" -eq "$#" ] || skip "the kernel lists ${#PARTS[@]} of $# partitions"
}

teardown() {
	[ -z "${SIM_LOOP:-}" ] || partx -d "$SIM_LOOP" 2>/dev/null || true
	sim_teardown
}

# A node for partition $1 (a sysfs name), made from its numbers: there may be no udev.
node_of() {
	local node="$T/$1"
	mknod "$node" b $(tr ':' ' ' <"/sys/block/${SIM_LOOP#/dev/}/$1/dev")
	echo "$node"
}

# The partitions in $OUT's JSON as "name start size boundary at_least past aligned", one a line.
partition_rows() {
	jq -r '.partitions[] | [.name, .start, .size, .boundary, .boundary_at_least, .past, .aligned] | map(tostring) | join(" ")' "$OUT"
}

@test "4096-byte sectors, partitions at sectors 7, 2048, 2056 and 32090: two misaligned, two aligned" {
	sim_drive 4096 0
	partition 7:2041 2048:8 2056:30034 32090:98982
	local d=${SIM_LOOP#/dev/}
	sv -x -p -n 5 -k "$T/kept" -j -- -l 512 -h 16k -t 64k "$SIM_LOOP"
	expect_status 0
	[ "$(jq -r '[.verdict, .granularity] | join(" ")' "$OUT")" = "hidden 4096" ] || { cat "$OUT"; false; }
	partition_rows >"$T/got"
	cat >"$T/want" <<-EOF
		${d}p1 3584 1044992 4096 false 3584 false
		${d}p2 1048576 4096 4096 false 0 true
		${d}p3 1052672 15377408 4096 false 0 true
		${d}p4 16430080 50678784 4096 false 1024 false
	EOF
	diff -u "$T/want" "$T/got"
	[ "$(jq '[.partitions[].reported_alignment_offset] | all(. != null)' "$OUT")" = true ]

	# the same, in text, from the kept tables and the disk
	sv -p -d "$SIM_LOOP" "$T/kept"/pass-*.txt
	expect_status 0
	grep -q "^partitions of $SIM_LOOP, judged against the 4096-byte boundary the disk pays at:$" "$OUT"
	grep -Eq "^${d}p1 +3584 +1044992 +4096 +3584 +[0-9]+  misaligned by 3584 bytes$" "$OUT"
	grep -Eq "^${d}p2 +1048576 +4096 +4096 +0 +[0-9]+  aligned$" "$OUT"
	grep -Eq "^${d}p3 +1052672 +15377408 +4096 +0 +[0-9]+  aligned$" "$OUT"
	grep -Eq "^${d}p4 +16430080 +50678784 +4096 +1024 +[0-9]+  misaligned by 1024 bytes$" "$OUT" || { cat "$OUT"; false; }

	# a partition is never swept for -p, in either mode; its disk is named
	local p1
	p1=$(node_of "${d}p1")
	for args in "-x -p -- $p1" "-p -d $p1 $T/kept/pass-1.txt"; do
		sv $args
		expect_status 64
		expect_out ""
		expect_err "sekto-verdict: $p1 is a partition of $SIM_LOOP; -p checks the partitions of a whole disk"$'\n'
	done

	# the partition at 32090, judged alone: its disk and the command that settles it are named
	local p4
	p4=$(node_of "${d}p4")
	sv -x -n 3 -- -l 512 -h 16k -t 64k "$p4"
	expect_status 0
	grep -q "It starts at byte 16430080 of $SIM_LOOP\. .*sekto's offsets cannot show such a start" "$OUT" || { cat "$OUT"; false; }
	grep -qx "To settle it, sweep its disk: sekto-verdict -x -p -- -l 512 -h 16k -t 64k $SIM_LOOP" "$OUT"
	! grep -q "1 MiB partition alignment suits\|is the granularity" "$OUT"
}

@test "8192-byte sectors, partitions at sectors 2052 and 4096: 2048 past, and aligned" {
	sim_drive 8192 0 400
	partition 2052:2044 4096:8192
	local d=${SIM_LOOP#/dev/}
	sv -x -p -n 5 -j -- -l 512 -h 32k -t 256k "$SIM_LOOP"
	expect_status 0
	[ "$(jq -r '[.verdict, .granularity] | join(" ")' "$OUT")" = "hidden 8192" ] || { cat "$OUT"; false; }
	[ "$(partition_rows | cut -d ' ' -f 1,4-)" = "${d}p1 8192 false 2048 false"$'\n'"${d}p2 8192 false 0 true" ]
}

@test "a drive without a penalty: the verdict none, every partition aligned to the sector, and writes not cleared" {
	sim_drive 512 0 400
	partition 7:2041 2048:4096
	sv -x -p -n 5 -- -l 512 -h 8k -t 128k "$SIM_LOOP"
	expect_status 0
	head -n 1 "$OUT" | grep -qx "verdict: no penalty at any offset that was tried"
	grep -q "^partitions of $SIM_LOOP, judged against 512 bytes, .*the drive showed no penalty in reads, and reads can hide a penalty that writes pay:$" "$OUT"
	[ "$(grep -c '  aligned$' "$OUT")" = 2 ]
}

@test "a loop device 512 bytes into a 4096-byte drive, judged alone: no all-clear, its start named, and how to settle it" {
	sim_drive 4096 512
	sv -x -n 3 -- -l 512 -h 8k -t 64k "$SIM_LOOP"
	expect_status 0
	grep -q "It is a loop device that starts 512 bytes into $MNT/disk\. That start is no multiple of 4096 bytes, and sekto's offsets cannot show such a start" "$OUT" ||
		{ cat "$OUT"; false; }
	# a FUSE file lies on no disk that the system names
	grep -qx "To settle it, sweep the disk it lies on: sekto-verdict -x -p -- -l 512 -h 8k -t 64k DRIVE" "$OUT"
	! grep -q "1 MiB partition alignment suits\|is safe\|is the granularity" "$OUT"
}
