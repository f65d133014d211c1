#!/usr/bin/env bats
# sekto-verdict's command line, its reading of tables, its outputs, and run
# mode with its hold on the CPUs and its passing on of sekto's failures.

load common

VUSAGE=$'usage: sekto-verdict [-jp] [-g file] [-d device] [file ...]\n       sekto-verdict -x [-n passes] [-k dir] [-jp] [-g file] -- [sekto options] device\n'

# A table of a device with 4096-byte sectors behind 512, pass $1 of a few.
table_512e() {
	local p=$1
	cat <<-EOF
		   count    size  offset    step        msec     tps    kBps

		      64    4096       0   16384          10    640$p   25600
		      64    4096     512   16384          20    320$p   12800
		      64    4096    1024   16384          20    321$p   12840
		      64    4096    2048   16384          20    319$p   12760

		      32    8192       0   32768          11    290$p   23200
		      32    8192     512   32768          14    230$p   18400
		      32    8192    1024   32768          14    231$p   18480
		      32    8192    2048   32768          14    229$p   18320
		      32    8192    4096   32768          11    291$p   23280
	EOF
}

@test "usage errors: the usage line, status 64, nothing on standard output" {
	while IFS='|' read -r args first; do
		sv $args
		expect_status 64
		expect_out ""
		[ "$(head -c "${#first}" "$ERR")" = "$first" ] || { echo "$args:"; cat "$ERR"; false; }
		[ "$(tail -n 2 "$ERR")" = "${VUSAGE%$'\n'}" ] || { echo "$args:"; cat "$ERR"; false; }
	done <<-'CASES'
		-n 3 file|usage:
		-k dir file|usage:
		-x|usage:
		-x -d /dev/null -- /dev/null|usage:
		-p file|usage:
		-x -n 0 -- /dev/null|-n: the number of passes must be a whole number from 1 to 1000
		-x -n 3x -- /dev/null|-n: the number of passes must be a whole number from 1 to 1000
		-q|sekto-verdict: invalid option -- 'q'
		-g|sekto-verdict: option requires an argument -- 'g'
	CASES
}

@test "passes from files and from a pipe: the verdict, then the table of relative speeds" {
	for p in 1 2 3; do table_512e $p >"$T/pass$p"; done
	sv "$T/pass1" "$T/pass2" "$T/pass3"
	expect_status 0
	expect_err ""
	cat >"$T/want" <<-'EOF'
		verdict: hidden 4096-byte physical sectors behind 512-byte logical ones
		Transfers that start on a 4096-byte boundary run at full speed; those that start off it and cross it run up to 50% slower (3 passes, noise 0%): the rows of size 4096 at offsets 512, 1024 and 2048, and size 8192 at offsets 512, 1024 and 2048.
		advice: align partitions to 4096 bytes (the usual 1 MiB alignment does), and use a file system block size of at least 4096 bytes.

		relative speed by size and offset, median of 3 passes (offset 0 = 1.00; * slower, ? too close to the noise to tell)
		      size        0       512      1024      2048      4096
		      4096     1.00      0.50*     0.50*     0.50*
		      8192     1.00      0.79*     0.80*     0.79*     1.00
	EOF
	diff -u "$T/want" "$OUT"

	# three tables in one stream are three passes
	cat "$T/pass1" "$T/pass2" "$T/pass3" | sekto-verdict >"$T/piped" 2>"$ERR"
	cmp "$OUT" "$T/piped"
	sekto-verdict - <"$T/pass1" >"$OUT"
	grep -q "median of 1 pass " "$OUT"
}

@test "bad input: file and line named, status 65, nothing on standard output" {
	table_512e 1 >"$T/good"
	table_512e 1 | sed '9a hello' >"$T/garbage"
	table_512e 1 | sed '4d' >"$T/order"
	table_512e 1 | head -n 1 >"$T/norows"
	table_512e 1 | sed 's/       0   32768/       0   32769/' >"$T/step"
	printf '%s\n' "   count    size  offset    step        msec     tps    kBps" "" \
		"      32    4096       0   16384          10    6401   25600" >"$T/other"
	head -c 2000 /dev/urandom >"$T/binary"
	while IFS='|' read -r files message; do
		sv ${files//\$T/$T}
		expect_status 65
		expect_out ""
		expect_err "sekto-verdict: ${message//\$T/$T}"$'\n'
	done <<-'CASES'
		$T/garbage|$T/garbage:10: not a header, an empty line or a row
		$T/order|$T/order:4: the row of size 4096 at offset 1024 is out of order: the sweep has size 4096 at offset 512 here
		$T/norows|$T/norows:1: the table has no rows
		$T/step|$T/step:8: the row of size 8192 at offset 0 has count 32 and step 32769, where the sweep has 32 and 32768
		$T/good $T/other|$T/other:3: this table is of another sweep (sector 4096, sizes 4096 to 4096, total 131072) than $T/good (sector 512, sizes 4096 to 8192, total 262144)
		/dev/null|/dev/null:1: no sekto table: the header line is missing
	CASES
	sv "$T/binary"
	expect_status 65
	expect_out ""

	sv "$T/missing"
	expect_status 66
	expect_out ""
	expect_err "sekto-verdict: $T/missing: No such file or directory"$'\n'
}

@test "tables inside a longer text: a script(1) typescript and a log are read, with one note on what was skipped" {
	command -v script >/dev/null || skip "script(1) is not installed"
	truncate -s 1M "$T/disk"
	script -qec "sekto -l 512 -h 2048 -t 64k $T/disk" "$T/typescript" </dev/null >/dev/null
	grep -q $'\r$' "$T/typescript"
	grep -q '^Script done' "$T/typescript"
	sv -j "$T/typescript"
	expect_status 0
	[ "$(jq '.rows | length' "$OUT")" = 6 ]
	[ "$(jq -c '[.rows[] | [.size, .offset]]' "$OUT")" = '[[512,0],[1024,0],[1024,512],[2048,0],[2048,512],[2048,1024]]' ]
	expect_err "sekto-verdict: $T/typescript:1: skipping the lines outside sekto's tables, the first of them: \"$(head -n 1 "$T/typescript" | cut -c 1-57)...\""$'\n'

	# a log with lines before the header and after the last row; two tables, two passes
	table_512e 1 >"$T/pass"
	{ echo "# run at 14:00"; cat "$T/pass"; echo "done"; echo; cat "$T/pass"; echo "bye"; } >"$T/log"
	sv -j "$T/log"
	expect_status 0
	[ "$(jq .passes "$OUT")" = 2 ]
	expect_err "sekto-verdict: $T/log:1: skipping the lines outside sekto's tables, the first of them: \"# run at 14:00\""$'\n'

	# a text with no table at all
	printf 'Script started\r\nnothing here\r\n' >"$T/empty-typescript"
	sv "$T/empty-typescript"
	expect_status 65
	expect_out ""
	expect_err "sekto-verdict: $T/empty-typescript:2: no sekto table: the header line is missing"$'\n'
}

@test "real tables whose columns run together are read with the right numbers" {
	truncate -s 8g "$T/sparse"
	local l h min max size offset n=0
	for l in 1 16; do
		h=$((4 * l)) min=$((l << 20)) max=$((h << 20))
		sk -l ${l}m -h ${h}m -t 1g "$T/sparse"
		expect_status 0
		cp "$OUT" "$T/table"
		# the columns run together somewhere: fewer than seven words on a row
		awk 'NR > 1 && NF > 0 && NF < 7 { found = 1 } END { exit !found }' "$T/table"
		sv -j "$T/table"
		expect_status 0
		expect_err ""
		# the same numbers, read another way: the prefix is known, and no result is wider than its field here
		for ((size = min; size <= max; size *= 2)); do
			for ((offset = 0; offset < size; offset = offset ? 2 * offset : 512)); do
				echo "$(prefix $((1073741824 / size)) $size $offset)"
			done
		done >"$T/prefixes"
		grep -v -e '^$' -e count "$T/table" | paste -d '|' "$T/prefixes" - | while IFS='|' read -r want line; do
			[ "${line:0:${#want}}" = "$want" ] || { echo "$line does not begin with $want"; exit 1; }
			suffix=${line:${#want}}
			[ "${#suffix}" -eq 26 ] || { echo "a result wider than its field: $line"; exit 1; }
			tps=${suffix:10:8}
			echo "${tps// /}"
		done >"$T/want"
		jq '.rows[].tps[0]' "$OUT" | diff -u "$T/want" -
		n=$((n + 1))
	done
	[ "$n" = 2 ]
}

@test "a table cut short by a failed run: a warning that names its last complete row, the rest judged" {
	truncate -s 64k "$T/disk"
	# reads 1-16 are the row of 512, 17-24 the first of 1024, 25-32 the second
	inject INJECT_READ_AT=30 -l 512 -h 2048 -t 8k "$T/disk"
	expect_status 74
	cp "$OUT" "$T/cut"
	sv "$T/cut"
	expect_status 0
	expect_err "sekto-verdict: $T/cut:6: the table is cut short after its row of size 1024 at offset 0"$'\n'
	head -n 1 "$OUT" | grep -qx 'verdict: inconclusive'
	grep -q '^      1024     1.00$' "$OUT"
	! grep -q '^      2048' "$OUT"
}

@test "JSON and the SVG chart: the documented keys, valid XML that renders" {
	command -v jq >/dev/null || skip "jq is not installed"
	for p in 1 2 3; do table_512e $p >"$T/pass$p"; done
	sv -j -g "$T/chart.svg" -d "$T/pass1" "$T/pass1" "$T/pass2" "$T/pass3"
	expect_status 0
	expect_err ""
	[ "$(jq -r '[.verdict, .sector, .granularity, .granularity_at_least, .misalignment, .mode, .passes] | join(" ")' "$OUT")" = \
		"hidden 512 4096 4096 0  3" ]
	[ "$(jq -r '.mode' "$OUT")" = null ]
	# the version of the keys comes first
	[ "$(jq -r 'keys_unsorted[0] + " " + (.format | tostring)' "$OUT")" = "format 1" ]
	[ "$(jq -r '.penalty > 0.49 and .penalty < 0.51' "$OUT")" = true ]
	[ "$(jq -c '.rows[1] | [.size, .offset, .tps, .median, .class]' "$OUT")" = '[4096,512,[3201,3202,3203],3202,"slow"]' ]
	[ "$(jq -r '.rows[1].relative > 0.49 and .rows[1].relative < 0.51' "$OUT")" = true ]
	# a regular file has no geometry to report
	[ "$(jq -r 'has("reported")' "$OUT")" = false ]
	[ "$(jq -r .device "$OUT")" = "$T/pass1" ]

	command -v xmllint >/dev/null || skip "xmllint (libxml2-utils) is not installed"
	xmllint --noout "$T/chart.svg"
	grep -q '<title>size 4096, offset 512: 0.50</title>' "$T/chart.svg"
	grep -q 'hidden 4096-byte physical sectors behind 512-byte logical ones' "$T/chart.svg"
	command -v rsvg-convert >/dev/null || skip "rsvg-convert (librsvg2-bin) is not installed"
	rsvg-convert -o "$T/chart.png" "$T/chart.svg"
	[ "$(head -c 8 "$T/chart.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ]

	sv -g "$T/no/such/dir/chart.svg" "$T/pass1"
	expect_status 73
	expect_out ""
	expect_err "sekto-verdict: $T/no/such/dir/chart.svg: No such file or directory"$'\n'
}

# A copy of sekto-verdict in a directory of its own, beside a stand-in for
# sekto that runs the given commands and prints a table of the 512e drive.
fake_beside() {
	FAKE=$(mktemp -d /tmp/sekto-verdict-fake.XXXXXX)
	chmod 755 "$FAKE"
	cp "$VERDICT" "$FAKE/sekto-verdict"
	table_512e 1 >"$FAKE/table"
	cat >"$FAKE/sekto" <<-EOF
		#!/bin/sh
		$1
		cat "$FAKE/table"
	EOF
	chmod 755 "$FAKE/sekto"
}

teardown() {
	[ -z "${FAKE:-}" ] || rm -rf "$FAKE"
}

@test "run mode: sekto beside it runs n times, -k keeps the tables, the CPUs are held at 0 during the passes" {
	fake_beside 'echo "$*" >>"'"$T"'/calls"; od -An -td4 -N4 /dev/cpu_dma_latency >>"'"$T"'/latency" 2>/dev/null'
	status=0
	"$FAKE/sekto-verdict" -x -n 2 -k "$T/kept" -- -l 4096 -h 8192 -t 256k /dev/sdz >"$OUT" 2>"$ERR" </dev/null || status=$?
	expect_status 0
	[ "$(cat "$T/calls")" = "-l 4096 -h 8192 -t 256k /dev/sdz"$'\n'"-l 4096 -h 8192 -t 256k /dev/sdz" ]
	cmp "$T/kept/pass-1.txt" "$FAKE/table"
	cmp "$T/kept/pass-2.txt" "$FAKE/table"
	head -n 1 "$OUT" | grep -qx 'verdict: hidden 4096-byte physical sectors behind 512-byte logical ones'
	grep -q '(reads, 2 passes, ' "$OUT"

	need_root "/dev/cpu_dma_latency can be held by root only"
	[ -c /dev/cpu_dma_latency ] || skip "this kernel has no /dev/cpu_dma_latency"
	expect_err ""
	[ "$(tr -s ' \n' ' ' <"$T/latency")" = " 0 0 " ]
	# and when nothing holds it
	[ "$(od -An -td4 -N4 /dev/cpu_dma_latency | tr -d ' ')" = 2000000000 ]
}

@test "run mode without root: one line says the CPUs are not held, and the verdict follows" {
	need_root "setpriv needs root to become another user"
	[ -c /dev/cpu_dma_latency ] || skip "this kernel has no /dev/cpu_dma_latency"
	fake_beside ':'
	status=0
	setpriv --reuid=nobody --regid=nogroup --clear-groups "$FAKE/sekto-verdict" -x -n 1 -- /dev/sdz \
		>"$OUT" 2>"$ERR" </dev/null || status=$?
	expect_status 0
	expect_err $'sekto-verdict: cannot hold the CPUs out of deep idle (/dev/cpu_dma_latency): Permission denied\n'
	head -n 1 "$OUT" | grep -q '^verdict: hidden'
}

@test "run mode passes sekto's failures through unchanged, and runs the sekto on PATH when none is beside it" {
	sv -x -- /nonexistent
	expect_status 71
	expect_out ""
	expect_err $'sekto: open(/nonexistent): No such file or directory\n'

	sv -x -- -l 3 /nonexistent
	expect_status 1
	expect_out ""
	expect_err $'-l: not a power of two\n'"$USAGE"

	truncate -s 20k "$T/disk"
	sv -x -k "$T/kept" -- -l 2048 -h 2048 -t 8k "$T/disk"
	expect_status 74
	expect_out ""
	expect_err $'sekto: short read: 0 < 2048\n'
	# the failed pass's table is kept as sekto wrote it
	expect_bytes "$T/kept/pass-1.txt" "$HEADER"$'\n'"$(prefix 4 2048 0)"

	mkdir -p "$T/alone" "$T/path"
	cp "$VERDICT" "$T/alone/sekto-verdict"
	printf '#!/bin/sh\necho "from PATH: $*" >&2\nexit 9\n' >"$T/path/sekto"
	chmod +x "$T/path/sekto"
	status=0
	PATH="$T/path:$PATH" "$T/alone/sekto-verdict" -x -- /dev/sdz >"$OUT" 2>"$ERR" </dev/null || status=$?
	expect_status 9
	expect_out ""
	# without -h and -t, run mode chooses a sweep that can answer
	[ "$(grep -v 'cpu_dma_latency' "$ERR")" = "from PATH: -h 32k -t 1m /dev/sdz" ]
}

@test "run mode on a terminal: pass k of n and sekto's own progress bar; the kept tables hold no trace of it" {
	truncate -s 1M "$T/disk"
	status=0
	"$PTYRUN" -e sekto-verdict -x -n 2 -k "$T/tty" -- -l 512 -h 1024 -t 64k "$T/disk" >"$T/screen" </dev/null || status=$?
	expect_status 0
	grep -q "^pass 1 of 2" "$T/screen"
	grep -q "^pass 2 of 2" "$T/screen"
	grep -q -- "$(prefix 128 512 0) \[O---" "$T/screen"
	grep -q "^verdict: " "$T/screen"

	sv -x -n 1 -k "$T/pipe" -- -l 512 -h 1024 -t 64k "$T/disk"
	expect_status 0
	cp "$T/pipe/pass-1.txt" "$OUT"
	expect_skeleton "$(sweep_skeleton "" "128 512 0" "" "64 1024 0" "64 1024 512")"$'\n'
	[ "$(skeleton "$T/tty/pass-1.txt")" = "$(skeleton "$T/pipe/pass-1.txt")" ]
	[ "$(skeleton "$T/tty/pass-2.txt")" = "$(skeleton "$T/pipe/pass-1.txt")" ]
}
