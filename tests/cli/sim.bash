# The simulated drive: a FUSE file whose requests cost a known amount per
# physical sector, under a loop device with 512-byte logical sectors.

# Mounts a simulated drive with physical sectors of $1 bytes, each request
# charged $3 microseconds a sector (1600 when not given), and attaches a loop
# device over it that starts $2 bytes in; sets SIM_LOOP. SIM_LOG, when set,
# names a file where the drive logs its requests. The cost is large beside the
# kernel's own 70 us or so a request, so that a busy machine, which delays that
# part, moves the rows by a few percent and not by the penalty.
sim_drive() {
	need_root "the simulated drive is a FUSE mount under a loop device"
	[ -n "${SIMDRIVE:-}" ] || skip "the simulated drive was not built: libfuse3-dev is missing"
	[ -c /dev/fuse ] || skip "there is no /dev/fuse"
	MNT="$T/sim"
	mkdir -p "$MNT"
	"$SIMDRIVE" "$MNT" -f -s --size=67108864 --physical="$1" --cost="${3:-1600}" \
		${SIM_LOG:+--log="$SIM_LOG" --log-requests=0} 2>"$T/simdrive.err" &
	SIM_PID=$!
	local i
	for i in $(seq 50); do
		[ -f "$MNT/disk" ] && break
		sleep 0.1
	done
	[ -f "$MNT/disk" ] || { cat "$T/simdrive.err"; skip "the simulated drive could not be mounted"; }
	SIM_LOOP=$(losetup -f --show --sector-size 512 -o "$2" "$MNT/disk") ||
		skip "losetup cannot attach a loop device here"
	LOOPS+=("$SIM_LOOP")
}

# Detaches the loop device and unmounts the drive; the daemon then ends.
sim_teardown() {
	local l i
	for l in "${LOOPS[@]}"; do
		losetup -d "$l" 2>/dev/null || true
	done
	LOOPS=()
	if [ -n "${SIM_PID:-}" ]; then
		for i in $(seq 50); do
			umount "$MNT" 2>/dev/null && break
			sleep 0.1
		done
		mountpoint -q "$MNT" && umount -l "$MNT"
		wait "$SIM_PID" 2>/dev/null || true
	fi
	MNT=
}

teardown() {
	sim_teardown
	rm -f /dev/shm/sekto-test-"$BATS_TEST_NUMBER"-* 2>/dev/null || true
}
