#!/usr/bin/env bats
# The default sweep, the operand rule, and the failures of opening and probing
# the device and of the transfers.

load common

DEFAULT_SWEEP=(
	"" "262144 512 0"
	"" "131072 1024 0" "131072 1024 512"
	"" "65536 2048 0" "65536 2048 512" "65536 2048 1024"
	"" "32768 4096 0" "32768 4096 512" "32768 4096 1024" "32768 4096 2048"
)

@test "the default sweep of a 512 MiB file: ten rows in four groups, file unchanged" {
	truncate -s 512M "$T/disk"
	head -c 1048576 /dev/urandom | dd of="$T/disk" conv=notrunc status=none
	before=$(md5sum <"$T/disk")

	sk "$T/disk"
	expect_status 0
	expect_err ""
	expect_skeleton "$(sweep_skeleton "${DEFAULT_SWEEP[@]}")"$'\n'
	# every line but the empty ones is 60 characters, and there is no trailing empty line
	[ "$(awk 'length($0) != 0 && length($0) != 60' "$OUT" | wc -l)" -eq 0 ]
	[ "$(tail -c 1 "$OUT" | od -An -c | tr -d ' ')" = '\n' ]
	[ "$(tail -n 1 "$OUT")" != "" ]
	! grep -q $'[\b[O]' "$OUT"
	[ "$(md5sum <"$T/disk")" = "$before" ]
}

@test "not exactly one operand: the usage line, status 1, nothing on stdout" {
	truncate -s 1M "$T/disk"
	for args in "" "$T/disk $T/disk" "$T/disk -w" "$T/disk -l 512"; do
		sk $args
		expect_status 1
		expect_out ""
		expect_err "$USAGE"
	done
}

@test "a missing path fails to open with status 71" {
	sk "$T/missing"
	expect_status 71
	expect_out ""
	expect_err "sekto: open($T/missing): No such file or directory"$'\n'
}

@test "a file without read permission fails with EACCES, status 71" {
	need_root "to run the test as an unprivileged user"
	dir=$(mktemp -d /tmp/sekto-eacces.XXXXXX)
	chmod 755 "$dir"
	cp "$SEKTO" "$dir/sekto"
	truncate -s 1M "$dir/disk"
	chmod 600 "$dir/disk"
	status=0
	setpriv --reuid=nobody --regid=nogroup --clear-groups "$dir/sekto" "$dir/disk" >"$OUT" 2>"$ERR" || status=$?
	rm -rf "$dir"
	expect_status 71
	expect_out ""
	expect_err "sekto: open($dir/disk): Permission denied"$'\n'
}

@test "a failed status query ends with stat(device), status 71" {
	truncate -s 1M "$T/disk"
	inject INJECT_FSTAT_ERRNO=5 "$T/disk"
	expect_status 71
	expect_out ""
	expect_err "sekto: stat($T/disk): Input/output error"$'\n'
}

@test "a character device that is no disk fails the sector-size query, status 71" {
	sk /dev/null
	expect_status 71
	expect_out ""
	expect_err $'sekto: ioctl(/dev/null, DIOCGSECTORSIZE): Inappropriate ioctl for device\n'
}

@test "a device that reports sector size 0 or 520 never passes the checks" {
	inject INJECT_SECTOR_SIZE=0 /dev/null
	expect_status 71
	expect_out ""
	expect_err $'sekto: ioctl(/dev/null, DIOCGSECTORSIZE): invalid sector size 0\n'

	inject INJECT_SECTOR_SIZE=520 /dev/null
	expect_status 64
	expect_out ""
	expect_err $'sekto: total (134217728) is not a multiple of maxsize (4160)\n'
}

@test "the end of a regular file is a short read that leaves the row open, status 74" {
	# the third read of the first row starts at byte 4096
	truncate -s 4096 "$T/disk"
	sk "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n  262144     512       0    2048  '
	expect_err $'sekto: short read: 0 < 512\n'

	truncate -s 4196 "$T/disk"
	sk "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n  262144     512       0    2048  '
	expect_err $'sekto: short read: 100 < 512\n'
}

@test "a pipe through /dev/stdin cannot be positioned: lseek(0), status 74" {
	status=0
	echo data | sekto /dev/stdin >"$OUT" 2>"$ERR" || status=$?
	expect_status 74
	expect_out "$HEADER"$'\n  262144     512       0    2048  '
	expect_err $'sekto: lseek(0): Illegal seek\n'
}

@test "through a pipe, a row's prefix arrives while its run is under way" {
	truncate -s 512M "$T/disk"
	mkfifo "$T/gate"
	# the first positioning waits at the gate until the test opens it
	(INJECT_GATE="$T/gate" LD_PRELOAD="$INJECT" sekto "$T/disk" 2>"$ERR" 3>&- |
		cat >"$OUT") 3>&- &
	pipeline=$!
	arrived=0
	wait_for_bytes "$OUT" 96 && arrived=1
	running=0
	[ -d "/proc/$pipeline" ] && running=1
	echo open >"$T/gate"
	wait "$pipeline"
	[ "$arrived" -eq 1 ]
	[ "$running" -eq 1 ]
	[ "$(head -c 96 "$OUT")" = "$HEADER"$'\n  262144     512       0    2048  ' ]
	expect_skeleton "$(sweep_skeleton "${DEFAULT_SWEEP[@]}")"$'\n'
}
