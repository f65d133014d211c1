#!/usr/bin/env bats
# A write test refuses a block device that is in use: a mounted file system on
# it, or on one of its partitions, is never overwritten. Reading stays possible.

load common

ZEROED="$BATS_TEST_DIRNAME/zeroed.pl"
WRITE=(-l 512 -h 512 -t 1m)

# A RAM-backed loop device with an ext4 file system that holds a file of
# random bytes; sets IMG, LOOP and MNT and leaves the file system mounted.
mounted_ext4() {
	need_root "loop devices and mounts need root"
	command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 (e2fsprogs) is not installed"
	IMG="/dev/shm/sekto-test-$BATS_TEST_NUMBER-fs.img"
	truncate -s 16M "$IMG"
	LOOP=$(losetup -f --show --sector-size 512 "$IMG") || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
	mkfs.ext4 -q -F "$LOOP"
	MNT="$T/mnt"
	mkdir -p "$MNT"
	mount "$LOOP" "$MNT"
	head -c 300000 /dev/urandom >"$T/payload"
	cp "$T/payload" "$MNT/payload"
	sync
}

@test "a mounted ext4: -w and -r -w are refused with EBUSY, status 71, and the file system survives" {
	mounted_ext4
	for mode in -w "-r -w"; do
		sk $mode "${WRITE[@]}" "$LOOP"
		expect_status 71
		expect_out ""
		expect_err "sekto: open($LOOP): Device or resource busy"$'\n'
	done

	# measuring a mounted disk read-only is legitimate
	sk "${WRITE[@]}" "$LOOP"
	expect_status 0
	expect_err ""
	expect_skeleton "$(sweep_skeleton "" "2048 512 0")"$'\n'

	umount "$MNT"
	e2fsck -fn "$LOOP"
	mount -o ro "$LOOP" "$MNT"
	cmp "$T/payload" "$MNT/payload"
}

@test "a mounted partition: -w on the whole device is refused; unmounted, it is written as it should be" {
	need_root "loop devices and mounts need root"
	command -v sfdisk >/dev/null || skip "sfdisk (fdisk) is not installed"
	command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 (e2fsprogs) is not installed"
	IMG="/dev/shm/sekto-test-$BATS_TEST_NUMBER-pt.img"
	truncate -s 16M "$IMG"
	echo 'start=2048, type=83' | sfdisk -q "$IMG"
	LOOP=$(losetup -f --show -P --sector-size 512 "$IMG") || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
	# no udev here: the partition's node is made by hand
	part="/sys/block/${LOOP#/dev/}/${LOOP#/dev/}p1/dev"
	[ -e "$part" ] || partx -a "$LOOP"
	[ -e "$part" ] || skip "the kernel made no partition on $LOOP"
	mknod "$T/p1" b "$(cut -d: -f1 "$part")" "$(cut -d: -f2 "$part")"
	mkfs.ext4 -q -F "$T/p1"
	MNT="$T/mnt"
	mkdir -p "$MNT"
	mount "$T/p1" "$MNT"

	sk -w "${WRITE[@]}" "$LOOP"
	expect_status 71
	expect_out ""
	expect_err "sekto: open($LOOP): Device or resource busy"$'\n'

	umount "$MNT"
	cp "$IMG" "$T/before"
	perl "$ZEROED" 512 512 1048576 512 <"$T/before" >"$T/want"
	sk -w "${WRITE[@]}" "$LOOP"
	expect_status 0
	expect_err ""
	cmp "$IMG" "$T/want"
}

# The flags of sekto's open of the path, as strace shows the call.
traced_open_flags() {
	local path=$1
	shift
	strace -f -qq -e trace=openat -o "$T/trace" sekto "$@" "$path" >"$OUT" 2>"$ERR" </dev/null
	awk -v p="\"$path\"" '$2 == "openat(AT_FDCWD," && $3 == p "," { sub(/\).*/, "", $4); print $4 }' "$T/trace"
}

@test "open flags: O_EXCL exactly for writes to block devices, and the write test holds the claim" {
	command -v strace >/dev/null || skip "strace is not installed"
	truncate -s 1M "$T/disk"
	[ "$(traced_open_flags "$T/disk" -w "${WRITE[@]}")" = "O_RDWR" ]
	[ "$(traced_open_flags "$T/disk" -r -w "${WRITE[@]}")" = "O_RDWR" ]
	[ "$(traced_open_flags "$T/disk" "${WRITE[@]}")" = "O_RDONLY" ]

	need_root "loop devices are set up with losetup"
	LOOP=$(make_loop 8M 512) || skip "losetup cannot attach a loop device here"
	LOOPS+=("$LOOP")
	while IFS='|' read -r args want; do
		got=$(traced_open_flags "$LOOP" $args "${WRITE[@]}")
		[ "$got" = "$want" ] || { echo "$args: $got, wanted $want"; false; }
	done <<-'CASES'
		|O_RDONLY
		-s|O_RDONLY|O_SYNC
		-w|O_RDWR|O_EXCL
		-r -w|O_RDWR|O_EXCL
		-s -w|O_RDWR|O_EXCL|O_SYNC
	CASES

	# The kernel drops O_EXCL from the descriptor's flags, so the claim itself
	# is shown: while a write test waits at its first transfer, a second one is
	# refused, and while a read test waits, a write test gets the device.
	for mode in -w -r; do
		rm -f "$T/gate"
		mkfifo "$T/gate"
		: >"$T/first"
		INJECT_GATE="$T/gate" LD_PRELOAD="$INJECT" sekto $mode "${WRITE[@]}" "$LOOP" >"$T/first" 2>&1 3>&- &
		pid=$!
		wait_for_bytes "$T/first" 96 || { echo "no prefix"; echo >"$T/gate"; false; }
		sk -w -l 512 -h 512 -t 512 "$LOOP"
		echo open >"$T/gate"
		wait "$pid"
		if [ "$mode" = -w ]; then
			expect_status 71
			expect_err "sekto: open($LOOP): Device or resource busy"$'\n'
		else
			expect_status 0
			expect_err ""
		fi
	done
}
