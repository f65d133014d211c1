#!/usr/bin/env bats
# Known answers: sekto-verdict on a simulated drive whose physical sector size
# and start are known, each sweep a real one through the kernel (sekto, loop
# device, FUSE). The sweeps start at the sector size, so that the first row of
# each pass, which ran up to 15% faster than the rest here, stands alone in its
# group and is compared with nothing. Each case takes five passes: on a shared
# machine a stall of a few milliseconds can slow a short row in two passes of
# three, and the median of five still reads it right.

load common
load sim

# Checks the JSON verdict in $OUT against "verdict granularity at_least misalignment mode".
expect_json() {
	local got
	[ "$(jq .format "$OUT")" = 1 ] || { cat "$OUT"; false; }
	got=$(jq -r '[.verdict, (.granularity // "null"), .granularity_at_least, .misalignment, .mode, .passes] | join(" ")' "$OUT")
	[ "$got" = "$1" ] || { echo "got: $got, wanted: $1"; cat "$OUT"; false; }
}

# Runs five passes of a sweep with the options given, in JSON with the
# tables kept, then judges the kept tables again as text; the first line of
# the text must be the headline given. The JSON stays in $T/last.json.
known_answer() {
	local json=$1 headline=$2 dir="$T/kept-$RANDOM"
	shift 2
	sv -x -n 5 -k "$dir" -j -- "$@" "$SIM_LOOP"
	expect_status 0
	expect_json "$json"
	[ "$(jq -r .device "$OUT")" = "$SIM_LOOP" ]
	[ "$(jq '.rows | length' "$OUT")" -gt 0 ]
	cp "$OUT" "$T/last.json"
	sv -d "$SIM_LOOP" "$dir"/pass-[1-5].txt
	expect_status 0
	[ "$(head -n 1 "$OUT")" = "verdict: $headline" ] || { cat "$OUT"; false; }
}

# The known answer in each of the three modes: reads, writes and write-backs.
in_every_mode() {
	local answer=$1 headline=$2
	shift 2
	known_answer "$answer read 5" "$headline" "$@"
	known_answer "$answer write 5" "$headline" -w "$@"
	known_answer "$answer readwrite 5" "$headline" -r -w "$@"
}

@test "requests reach the simulated drive with exactly the offsets and sizes that sekto asked for" {
	SIM_LOG="$T/requests"
	sim_drive 4096 0
	sk -w -l 4096 -h 4096 -t 8k "$SIM_LOOP"
	expect_status 0
	sk -l 8192 -h 8192 -t 16k "$SIM_LOOP"
	expect_status 0
	cat >"$T/want" <<-'LOG'
		write 4096 0
		write 4096 16384
		write 4096 512
		write 4096 16896
		write 4096 1024
		write 4096 17408
		write 4096 2048
		write 4096 18432
		read 8192 0
		read 8192 32768
		read 8192 512
		read 8192 33280
		read 8192 1024
		read 8192 33792
		read 8192 2048
		read 8192 34816
		read 8192 4096
		read 8192 36864
	LOG
	diff -u "$T/want" "$T/requests"
}

@test "512e: reads, writes and write-backs find 4096-byte sectors behind 512; a small sweep gives a bound" {
	sim_drive 4096 0
	in_every_mode "hidden 4096 4096 0" "hidden 4096-byte physical sectors behind 512-byte logical ones" \
		-l 512 -h 8192 -t 64k
	[ "$(jq .reported.physical "$T/last.json")" = 512 ]
	# no offset of 4096 or more is tried below -h 8192
	known_answer "hidden null 4096 0 read 5" \
		"hidden physical sectors of at least 4096 bytes behind 512-byte logical ones" -l 512 -h 4096 -t 64k
	grep -qx "To settle it: sekto -l 4k -h 8k -t 64k $SIM_LOOP" "$OUT"
}

@test "an SSD-like 16 KiB page is found with a larger -h" {
	sim_drive 16384 0
	known_answer "hidden 16384 16384 0 read 5" "hidden 16384-byte physical sectors behind 512-byte logical ones" \
		-l 512 -h 32768 -t 128k
	known_answer "hidden 16384 16384 0 write 5" "hidden 16384-byte physical sectors behind 512-byte logical ones" \
		-w -l 512 -h 32768 -t 128k
}

@test "a partition 3584 bytes past a 4096-byte boundary is misaligned by 3584 in every mode" {
	sim_drive 4096 3584
	in_every_mode "misaligned 4096 4096 3584" "misaligned by 3584 bytes from 4096-byte physical sectors" \
		-l 512 -h 8192 -t 64k
	[ "$(jq .reported.partition_start "$T/last.json")" = 3584 ]
	# offset 512 falls on the boundary: the sweep did show what this start costs
	grep -q "^It is a loop device that starts 3584 bytes into $MNT/disk\.$" "$OUT" || { cat "$OUT"; false; }
	! grep -q "cannot show such a start" "$OUT"
}

@test "a drive without a penalty is judged so in every one of several runs, reads and writes" {
	# a transfer touches up to 16 sectors of 512 bytes here, so each costs less
	sim_drive 512 0 400
	for run in 1 2 3; do
		for mode in -r -w; do
			known_answer "none 512 512 0 $([ $mode = -r ] && echo read || echo write) 5" \
				"no penalty at any offset that was tried" $mode -l 512 -h 8192 -t 128k
		done
	done
}

@test "a sweep to 32 KiB, whose large transfers pay little for the extra sector, still pins 4096 exactly" {
	# 400 us a sector keeps three passes of -t 1m to about 17 s
	sim_drive 4096 0 400
	sv -x -j -- -h 32k -t 1m "$SIM_LOOP"
	expect_status 0
	expect_json "hidden 4096 4096 0 read 3"
	# the row of 32768 at 512 touches 9 sectors instead of 8: about 11% slower, and called so
	[ "$(jq '.rows[] | select(.size == 32768 and .offset == 512) | .relative > 0.83 and .relative < 0.95' "$OUT")" = true ]
	[ "$(jq '.penalty_per_sector > 0.5 and .misfit < 4' "$OUT")" = true ]
}

@test "SIGTERM, and SIGINT on a terminal, stop run mode at once: its sekto with it, only whole tables kept" {
	sim_drive 4096 0
	local sig dir bg vpid child i
	for sig in TERM INT; do
		dir="$T/kept-$sig"
		# a write test: the pass that is stopped must stop writing
		if [ "$sig" = INT ]; then
			# a background job starts with SIGINT ignored; a foreground one, as at ^C, does not
			env --default-signal=INT "$PTYRUN" -e sekto-verdict -x -n 5 -k "$dir" -- -w -l 512 -h 4096 -t 64k "$SIM_LOOP" \
				>"$T/screen" </dev/null &
		else
			sekto-verdict -x -n 5 -k "$dir" -- -w -l 512 -h 4096 -t 64k "$SIM_LOOP" >"$OUT" 2>"$ERR" </dev/null &
		fi
		bg=$!
		for i in $(seq 100); do
			[ -f "$dir/pass-1.txt" ] && break
			sleep 0.1
		done
		sleep 0.3
		vpid=$bg
		[ "$sig" = TERM ] || vpid=$(pgrep -P "$bg" -x sekto-verdict)
		child=$(pgrep -P "$vpid" -x sekto) || { echo "no pass under way"; false; }
		kill -"$sig" "$vpid"
		for i in $(seq 10); do
			kill -0 "$child" 2>/dev/null || break
			sleep 0.1
		done
		! kill -0 "$child" 2>/dev/null || { echo "sekto $child outlived SIGTERM by a second"; false; }
		status=0
		wait "$bg" || status=$?
		# death by the signal; ptyrun, like a shell, says so as 128 + n
		expect_status $([ "$sig" = TERM ] && echo 143 || echo 130)
		ls "$dir" >"$T/kept"
		grep -qx 'pass-1.txt' "$T/kept"
		! grep -v -x 'pass-[1-5].txt' "$T/kept"
		# the kept tables read back whole, and the stopped pass is not among them
		sv -j "$dir"/pass-*.txt
		expect_status 0
		expect_err ""
		[ "$(jq .passes "$OUT")" = "$(wc -l <"$T/kept")" ]
	done
	grep -q "^pass 2 of 5 (the last took [0-9]* s; about [0-9]* s to go)" "$T/screen" || { cat -v "$T/screen"; false; }
}

@test "run mode without -h sweeps far enough to pin an 8192-byte drive exactly, and says what it ran" {
	sim_drive 8192 0 400
	sv -x -j -- -t 512k "$SIM_LOOP"
	expect_status 0
	expect_json "hidden 8192 8192 0 read 3"
	[ "$(jq -c .sweep.options "$OUT")" = '["-h","32k","-t","512k"]' ]
	[ "$(jq .sweep.maxsize "$OUT")" = 32768 ]
}

@test "a start 1536 past a 4096-byte boundary: the text names only rows that were measured, and infers the rest" {
	sim_drive 4096 1536
	known_answer "misaligned null 4096 1536 read 5" "misaligned by 1536 bytes from at least 4096-byte physical sectors" \
		-l 512 -h 8192 -t 64k
	local said
	said=$(sed -n 2p "$OUT")
	[[ "$said" =~ ^"The rows of size 2048 at offset 1024 run up to "[0-9]+"% slower than the fastest of their size, and the other rows at full speed (5 passes, noise "[0-9]+"%): so the device starts 1536 bytes past a boundary of at least 4096 bytes; the first offset on that boundary, 2560, is not one that sekto sweeps."$ ]] ||
		{ echo "$said"; false; }
	# every offset that a sentence names as run at some speed is one of the sweep's
	jq '.rows[].offset' "$T/last.json" | sort -u >"$T/swept"
	grep -oE 'offsets? [0-9]+((, | and )[0-9]+)*' "$OUT" | grep -oE '[0-9]+' | sort -u >"$T/named"
	[ -s "$T/named" ]
	comm -23 "$T/named" "$T/swept" | { ! grep .; }
}
