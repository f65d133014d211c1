#!/usr/bin/env bats
# What the device receives in each transfer mode, the open flags, and the
# failures of opening for writing and of writing.

load common

ZEROED="$BATS_TEST_DIRNAME/zeroed.pl"
SMALL=(-l 512 -h 2048 -t 8192)

@test "on a file: -w zeroes exactly the swept ranges, -r -w rewrites every byte unchanged, reads write nothing" {
	head -c 65536 /dev/urandom >"$T/disk"
	cp "$T/disk" "$T/original"
	perl "$ZEROED" 512 2048 8192 512 <"$T/original" >"$T/want"
	! cmp -s "$T/want" "$T/original"

	touch -d 2001-01-01 "$T/disk"
	for mode in "" -r; do
		sk $mode "${SMALL[@]}" "$T/disk"
		expect_status 0
		cmp "$T/disk" "$T/original"
		[ "$(stat -c %Y "$T/disk")" = "$(date -d 2001-01-01 +%s)" ]
	done

	sk -r -w "${SMALL[@]}" "$T/disk"
	expect_status 0
	cmp "$T/disk" "$T/original"
	[ "$(stat -c %Y "$T/disk")" -gt "$(date -d 2020-01-01 +%s)" ]

	sk -w "${SMALL[@]}" "$T/disk"
	expect_status 0
	expect_err ""
	cmp "$T/disk" "$T/want"
	[ "$(stat -c %s "$T/disk")" -eq 65536 ]
}

@test "on a loop device: -w zeroes exactly the swept ranges, -r -w changes nothing" {
	need_root "loop devices are set up with losetup"
	img="/dev/shm/sekto-test-$BATS_TEST_NUMBER-rw.img"
	head -c 65536 /dev/urandom >"$img"
	cp "$img" "$T/original"
	LOOP=$(losetup -f --show --sector-size 512 "$img") || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
	perl "$ZEROED" 512 2048 8192 512 <"$T/original" >"$T/want"

	for mode in "" "-r -w"; do
		sk $mode "${SMALL[@]}" "$LOOP"
		expect_status 0
		cmp "$img" "$T/original"
	done
	sk -w "${SMALL[@]}" "$LOOP"
	expect_status 0
	cmp "$img" "$T/want"
}

# Prints the flags of the descriptor that sekto holds on the path, read while
# its first run waits at the gate.
flags_during_run() {
	local path=$1 pid fd flags=""
	shift
	rm -f "$T/gate" "$OUT"
	mkfifo "$T/gate"
	: >"$OUT"
	INJECT_GATE="$T/gate" LD_PRELOAD="$INJECT" sekto "$@" "$path" >"$OUT" 2>"$ERR" 3>&- &
	pid=$!
	# the prefix is printed after the open and before the first positioning
	wait_for_bytes "$OUT" 96 || { echo "no prefix"; echo >"$T/gate"; return 1; }
	for fd in /proc/"$pid"/fd/*; do
		if [ "$(readlink "$fd")" = "$(readlink -f "$path")" ]; then
			flags=$(awk '$1 == "flags:" { print $2 }' /proc/"$pid"/fdinfo/"${fd##*/}")
		fi
	done
	echo open >"$T/gate"
	wait "$pid"
	[ -n "$flags" ] || return 1
	echo "$flags"
}

# Names the access mode and the O_SYNC and O_DIRECT bits of octal flags.
describe_flags() {
	local f=$((8#$1)) d
	case $((f & 3)) in
	0) d=rdonly ;;
	2) d=rdwr ;;
	*) d=other ;;
	esac
	[ $((f & 8#4010000)) -eq $((8#4010000)) ] && d="$d sync"
	[ $((f & 8#40000)) -ne 0 ] && d="$d direct"
	echo "$d"
}

@test "open flags: read-only unless -w, O_SYNC with -s, O_DIRECT on a block device only" {
	truncate -s 512M "$T/disk"
	while IFS='|' read -r args want; do
		flags=$(flags_during_run "$T/disk" $args -h 512 -t 64k)
		[ "$(describe_flags "$flags")" = "$want" ] || { echo "$args: $flags"; false; }
	done <<-'CASES'
		|rdonly
		-r|rdonly
		-w|rdwr
		-r -w|rdwr
		-s|rdonly sync
		-r -s -w|rdwr sync
	CASES

	need_root "loop devices are set up with losetup"
	LOOP=$(make_loop 64M 512) || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
	[ "$(describe_flags "$(flags_during_run "$LOOP" -h 512 -t 64k)")" = "rdonly direct" ]
	[ "$(describe_flags "$(flags_during_run "$LOOP" -s -w -h 512 -t 64k)")" = "rdwr sync direct" ]
}

@test "an immutable file opened for writing fails with EPERM, status 77" {
	need_root "chattr +i needs root"
	truncate -s 1M "$T/disk"
	chattr +i "$T/disk" 2>/dev/null || skip "the file system of $T has no immutable flag"
	sk -w "$T/disk"
	chattr -i "$T/disk"
	expect_status 77
	expect_out ""
	expect_err "sekto: open($T/disk): Operation not permitted"$'\n'
}

@test "a file-size limit cuts a write short, or refuses it with EFBIG, status 74" {
	truncate -s 1M "$T/disk"
	status=0
	(trap '' XFSZ && ulimit -f 1 && exec sekto -w -l 4096 -h 4096 -t 4096 "$T/disk") >"$OUT" 2>"$ERR" || status=$?
	expect_status 74
	expect_out "$HEADER"$'\n'"$(prefix 1 4096 0)"
	expect_err $'sekto: short write: 1024 < 4096\n'

	# the second write starts at byte 2048, past the limit of 1024
	status=0
	(trap '' XFSZ && ulimit -f 1 && exec sekto -w -h 512 -t 4096 "$T/disk") >"$OUT" 2>"$ERR" || status=$?
	expect_status 74
	expect_out "$HEADER"$'\n'"$(prefix 8 512 0)"
	expect_err $'sekto: write(512): File too large\n'
}

@test "a full file system ends the run with write(size), status 74" {
	need_root "mounting a tmpfs needs root"
	MNT="$T/mnt"
	mkdir "$MNT"
	mount -t tmpfs -o size=1m tmpfs "$MNT" || skip "cannot mount a tmpfs here"
	truncate -s 8M "$MNT/disk"
	sk -w -h 512 -t 1m "$MNT/disk"
	umount "$MNT"
	expect_status 74
	expect_out "$HEADER"$'\n'"$(prefix 2048 512 0)"
	expect_err $'sekto: write(512): No space left on device\n'
}
