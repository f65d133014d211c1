#!/usr/bin/env bats
# The progress bar, drawn inside the row when standard output is a terminal.

load common

RENDER="$BATS_TEST_DIRNAME/render.pl"

# Runs sekto with standard output on a raw pseudo-terminal.
on_tty() {
	status=0
	"$PTYRUN" sekto "$@" >"$OUT" 2>"$ERR" </dev/null || status=$?
}

# The draws of a run of count transfers: one every sixteenth transfer from the
# first, each the 52-byte template with its marker in cell 23 x i / count + 1.
draws() {
	local count=$1 i p bar=" [-----------------------]" back
	back=$(printf '\b%.0s' {1..26})
	for ((i = 0; i < count; i += 16)); do
		p=$((2 + 23 * i / count))
		printf '%s' "${bar:0:p}O${bar:p+1}$back"
	done
}

@test "on a terminal: the prefix, one draw per sixteen transfers, then the suffix" {
	truncate -s 512M "$T/disk"
	for count in 1 2 16 32 64 1024 262144; do
		on_tty -l 512 -h 512 -t $((count * 512)) "$T/disk"
		expect_status 0
		expect_err ""
		{
			printf '%s\n' "$HEADER"
			prefix "$count" 512 0
			draws "$count"
		} >"$T/want"
		[ $(($(wc -c <"$T/want") - 96)) -eq $(((count + 15) / 16 * 52)) ]
		head -c "$(wc -c <"$T/want")" "$OUT" >"$T/got"
		cmp "$T/want" "$T/got"
		tail -c +$(($(wc -c <"$T/want") + 1)) "$OUT" >"$T/suffix"
		[ "$(wc -c <"$T/suffix")" -eq 27 ]
		grep -Eq '^[ 0-9]{10}[ 0-9]{8}[ 0-9]{8}$' "$T/suffix"
	done
}

@test "the bar follows standard output only: drawn with stderr redirected, never to a file or pipe" {
	truncate -s 1M "$T/disk"
	# stdout the terminal, stderr a file: drawn (the run above checks the bytes)
	on_tty -h 512 -t 8192 "$T/disk"
	expect_status 0
	grep -q ' \[O' "$OUT"
	# stderr the terminal, stdout a file or a pipe: never drawn
	status=0
	"$PTYRUN" -e sh -c 'sekto -h 512 -t 8192 "$1" >&3' sh "$T/disk" 3>"$OUT" >"$T/tty" || status=$?
	expect_status 0
	[ ! -s "$T/tty" ]
	expect_skeleton "$(sweep_skeleton "" "16 512 0")"$'\n'
	"$PTYRUN" -e sh -c 'sekto -h 512 -t 8192 "$1" | cat >&3' sh "$T/disk" 3>"$OUT" >"$T/tty"
	[ ! -s "$T/tty" ]
	expect_skeleton "$(sweep_skeleton "" "16 512 0")"$'\n'
}

@test "a multi-group sweep on a terminal shows the same rows as a file, with no trace of the bar" {
	truncate -s 512M "$T/disk"
	on_tty -t 1m "$T/disk"
	expect_status 0
	grep -q $'\b' "$OUT"
	perl "$RENDER" <"$OUT" >"$T/screen"
	! grep -q '[][O]' "$T/screen"
	OUT="$T/screen" expect_skeleton "$(sweep_skeleton \
		"" "2048 512 0" \
		"" "1024 1024 0" "1024 1024 512" \
		"" "512 2048 0" "512 2048 512" "512 2048 1024" \
		"" "256 4096 0" "256 4096 512" "256 4096 1024" "256 4096 2048")"$'\n'
	# the same text, results apart, as the same sweep written to a file
	sk -t 1m "$T/disk"
	diff <(skeleton "$OUT") <(skeleton "$T/screen")
}

@test "a run that fails on a terminal leaves the bar as last drawn, with no suffix" {
	truncate -s 1M "$T/disk"
	status=0
	# 32 transfers draw after the 1st and the 17th; the 18th read fails
	INJECT_READ_AT=18 LD_PRELOAD="$INJECT" "$PTYRUN" sekto -h 512 -t 16384 "$T/disk" >"$OUT" 2>"$ERR" || status=$?
	expect_status 74
	expect_out "$HEADER"$'\n'"$(prefix 32 512 0)$(draws 32)"
	expect_err $'sekto: read(512): Input/output error\n'
}

@test "each draw is one write of the 52 bytes, with no allocation between draws" {
	command -v strace >/dev/null || skip "strace is not installed"
	truncate -s 1M "$T/disk"
	# LeakSanitizer cannot run under ptrace, so a sanitized build does without it here
	ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
		"$PTYRUN" strace -o "$T/trace" -e trace=write,brk,mmap,munmap sekto -h 512 -t 32768 "$T/disk" >"$OUT" 2>"$ERR"
	# 64 transfers: four draws, between the prefix's write and the suffix's
	grep -c '^write(1, " \[' "$T/trace" >"$T/draws" || true
	[ "$(cat "$T/draws")" -eq 4 ]
	[ "$(grep -c '^write(1, " \[.*, 52) = 52$' "$T/trace")" -eq 4 ]
	# nothing else happens from the first draw to the last
	awk '/^write\(1, " \[/ { n++ } n >= 1 && n < 4 && !/^write\(1, " \[/ { print; bad = 1 } END { exit bad }' "$T/trace"
}
