#!/usr/bin/env bats
# The option scan: faulty values, the size checks, and the settings that shape
# the sweep.

load common

@test "a faulty option: its message, the usage line, status 1, nothing on stdout" {
	truncate -s 1M "$T/disk"
	while IFS='|' read -r args message; do
		sk $args "$T/disk"
		expect_status 1
		expect_out ""
		expect_err "$message"$'\n'"$USAGE"
	done <<-'CASES'
		-l 0|-l: out of range
		-t 4294967296|-t: out of range
		-t 4294967295|-t: not a power of two
		-h 5000000000|-h: not a power of two
		-h abc|-h: invalid number
		-l -r|-l: invalid number
		-l 3 -l 512|-l: not a power of two
		-t 8E|-t: out of range
		-t 16E|-t: invalid number
		-x|sekto: invalid option -- 'x'
	CASES
	# a value-taking option as the last argument
	sk -r -l
	expect_status 1
	expect_out ""
	expect_err "sekto: option requires an argument -- 'l'"$'\n'"$USAGE"
}

@test "options end at the operand: an option after it is a second operand" {
	truncate -s 1M "$T/disk"
	before=$(md5sum <"$T/disk")
	sk "$T/disk" -w
	expect_status 1
	expect_out ""
	expect_err "$USAGE"
	[ "$(md5sum <"$T/disk")" = "$before" ]
}

@test "a faulty command line never opens the device" {
	# opening a FIFO without a writer would hang
	mkfifo "$T/fifo"
	for args in "-l 3" "-x" "-t 0" "-w -h 1k -h 5"; do
		status=0
		timeout 10 sekto $args "$T/fifo" >"$OUT" 2>"$ERR" || status=$?
		expect_status 1
	done
	status=0
	timeout 10 sekto "$T/fifo" -w >"$OUT" 2>"$ERR" || status=$?
	expect_status 1
	expect_err "$USAGE"
}

@test "sizes that do not divide one another: the first failing check, status 64" {
	truncate -s 1M "$T/disk"
	while IFS='|' read -r args message; do
		sk $args "$T/disk"
		expect_status 64
		expect_out ""
		expect_err "sekto: $message"$'\n'
	done <<-'CASES'
		-l 4096 -h 2048|maxsize (2048) is not a multiple of minsize (4096)
		-t 2048|total (2048) is not a multiple of maxsize (4096)
		-l 256|minsize (256) is not a multiple of block size (512)
		-l 256 -h 128 -t 64|minsize (256) is not a multiple of block size (512)
		-l 4096 -h 2048 -t 1024|maxsize (2048) is not a multiple of minsize (4096)
		-l 1g|total (134217728) is not a multiple of maxsize (2147483648)
	CASES
}

@test "-l 2048: offsets start at the block size, below minsize" {
	truncate -s 512M "$T/disk"
	sk -l 2048 "$T/disk"
	expect_status 0
	expect_err ""
	expect_skeleton "$(sweep_skeleton \
		"" "65536 2048 0" "65536 2048 512" "65536 2048 1024" \
		"" "32768 4096 0" "32768 4096 512" "32768 4096 1024" "32768 4096 2048" \
		"" "16384 8192 0" "16384 8192 512" "16384 8192 1024" "16384 8192 2048" "16384 8192 4096" \
		"" "8192 16384 0" "8192 16384 512" "8192 16384 1024" "8192 16384 2048" "8192 16384 4096" \
		"8192 16384 8192")"$'\n'
}

@test "the last size option given decides, and grouped flags take a value" {
	truncate -s 512M "$T/disk"
	sk -l 512 -l 1024 -h 2048 -t 1m "$T/disk"
	expect_status 0
	expect_skeleton "$(sweep_skeleton \
		"" "1024 1024 0" "1024 1024 512" \
		"" "512 2048 0" "512 2048 512" "512 2048 1024")"$'\n'

	want=$(sweep_skeleton \
		"" "32768 4096 0" "32768 4096 512" "32768 4096 1024" "32768 4096 2048" \
		"" "16384 8192 0" "16384 8192 512" "16384 8192 1024" "16384 8192 2048" "16384 8192 4096" \
		"" "8192 16384 0" "8192 16384 512" "8192 16384 1024" "8192 16384 2048" "8192 16384 4096" \
		"8192 16384 8192" \
		"" "4096 32768 0" "4096 32768 512" "4096 32768 1024" "4096 32768 2048" "4096 32768 4096" \
		"4096 32768 8192" "4096 32768 16384")$'\n'
	for args in "-rsl 4096" "-rsl4096"; do
		sk $args "$T/disk"
		expect_status 0
		expect_skeleton "$want"
	done
}

@test "-l equal to -h gives one group; -t equal to maxsize gives count 1" {
	truncate -s 8M "$T/disk"
	sk -l 1024 -h 1024 -t 1m "$T/disk"
	expect_status 0
	expect_skeleton "$(sweep_skeleton "" "1024 1024 0" "1024 1024 512")"$'\n'

	sk -t 4096 "$T/disk"
	expect_status 0
	expect_skeleton "$(sweep_skeleton \
		"" "8 512 0" \
		"" "4 1024 0" "4 1024 512" \
		"" "2 2048 0" "2 2048 512" "2 2048 1024" \
		"" "1 4096 0" "1 4096 512" "1 4096 1024" "1 4096 2048")"$'\n'
}

@test "the largest sizes: 23 rows of single 2 GiB transfers on a sparse 4 GiB file" {
	truncate -s 4G "$T/disk"
	sk -l 2147483648 -h 2g -t 2G "$T/disk"
	expect_status 0
	expect_err ""
	# the step is wider than its column, so each line is checked against its prefix
	{
		printf '%s\n' "$HEADER"
		prefix 1 2147483648 0
		echo
		for ((offset = 512; offset < 2147483648; offset *= 2)); do
			prefix 1 2147483648 $offset
			echo
		done
	} >"$T/prefixes"
	[ "$(wc -l <"$OUT")" -eq 25 ]
	[ "$(wc -l <"$T/prefixes")" -eq 25 ]
	paste -d '|' "$T/prefixes" "$OUT" | awk -F '|' -v bad=0 '
		{
			rest = substr($2, length($1) + 1)
			if (substr($2, 1, length($1)) != $1 || (NR > 2 && rest !~ /^ *[0-9]+ *[0-9]+ *[0-9]+$/))
				{ print "line " NR ": " $2; bad = 1 }
		}
		END { exit bad }'
}

@test "a 2 GiB transfer takes two calls, and the short one reports the bytes of both" {
	# one call moves at most 0x7ffff000 bytes; the file ends 100 bytes after that
	truncate -s $((0x7ffff000 + 100)) "$T/disk"
	sk -l 2g -h 2g -t 2g "$T/disk"
	expect_status 74
	expect_out "$HEADER"$'\n'"$(prefix 1 2147483648 0)"
	expect_err $'sekto: short read: 2147479652 < 2147483648\n'
}
