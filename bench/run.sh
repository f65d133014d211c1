#!/bin/sh
# Compares sekto with fio's sync engine and with a bare lseek+read loop on the
# same access pattern: one row of reads of one size, four sizes apart, N
# transfers, on a RAM-backed loop device (direct I/O) and on a cached file.
# The three alternate for several rounds; the medians are printed side by side.
#
# usage: bench/run.sh BUILD   (root, for the loop device; fio must be installed)
set -eu

build=${1:-build}
sekto=$build/sekto
bare=$build/bench/bare
rounds=${ROUNDS:-7}
n=${N:-65536}
work=$(mktemp -d /dev/shm/sekto-bench.XXXXXX)
loop=
cleanup() {
	[ -z "$loop" ] || losetup -d "$loop"
	rm -rf "$work" "${file:-}"
}
trap cleanup EXIT INT TERM

command -v fio >/dev/null || { echo "bench: fio is not installed (apt-get install fio)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "bench: the loop device needs root" >&2; exit 1; }
[ -x "$sekto" ] && [ -x "$bare" ] || { echo "bench: build first (make)" >&2; exit 1; }

# Waking an idle CPU costs more than a RAM-backed transfer, and on a virtual
# machine far more: left alone, the numbers would measure the idle states, and
# fio's helper threads, which keep a CPU awake, would win by that alone. So the
# CPUs are held out of their idle states, as latency benchmarks usually do, for
# every tool alike.
qos="not held (no /dev/cpu_dma_latency)"
if [ -w /dev/cpu_dma_latency ]; then
	exec 9>/dev/cpu_dma_latency
	head -c 4 /dev/zero >&9
	qos="held at 0 us through /dev/cpu_dma_latency"
fi

# 4 x 4096 x N bytes hold the largest row
span=$((4 * 4096 * n))
truncate -s "$span" "$work/ram.img"
loop=$(losetup -f --show --sector-size 512 "$work/ram.img")
file=$(mktemp "${TMPDIR:-/tmp}/sekto-bench-file.XXXXXX")
dd if=/dev/zero of="$file" bs=1048576 count=$((span / 1048576)) 2>/dev/null
cat "$file" >/dev/null

# One measurement in transfers per second: tool, target, size.
measure() {
	case $1 in
	sekto)
		"$sekto" -l "$3" -h "$3" -t $(($3 * n)) "$2" | awk '$3 == "0" && NF == 7 { print $6; exit }'
		;;
	fio)
		direct=0
		[ -b "$2" ] && direct=1
		fio --name=bench --filename="$2" --readonly --rw=read:$((3 * $3)) --bs="$3" \
		    --number_ios="$n" --size="$span" --ioengine=sync --direct=$direct --invalidate=0 \
		    --output-format=terse --terse-version=3 | awk -F';' '{ print $8 }'
		;;
	bare)
		"$bare" "$3" $((4 * $3)) "$n" "$2"
		;;
	esac
}

median() {
	sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

echo "machine: $(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'); $(nproc) cores;" \
    "$(awk '/MemTotal/ { printf "%d GiB", $2 / 1048576 }' /proc/meminfo)"
echo "cpu idle latency: $qos"
echo "pattern: $n reads per row, stride 4 x size, $rounds rounds alternating sekto, fio, bare"
echo "median tps; ratios: median of the rounds' ratios"
echo
printf '%-14s %6s %10s %10s %10s %10s %10s\n' target size sekto fio bare sekto/fio sekto/bare
for target in loop file; do
	dev=$loop
	[ "$target" = file ] && dev=$file
	for size in 512 4096; do
		: >"$work/sekto" && : >"$work/fio" && : >"$work/bare"
		measure sekto "$dev" "$size" >/dev/null
		round=0
		while [ "$round" -lt "$rounds" ]; do
			for tool in sekto fio bare; do
				measure "$tool" "$dev" "$size" >>"$work/$tool"
			done
			round=$((round + 1))
		done
		s=$(median <"$work/sekto")
		f=$(median <"$work/fio")
		b=$(median <"$work/bare")
		# the ratios are the medians of each round's own ratios, which a slow
		# drift of the machine's speed across the rounds leaves alone
		rf=$(paste "$work/sekto" "$work/fio" | awk '{ print $1 / $2 }' | median)
		rb=$(paste "$work/sekto" "$work/bare" | awk '{ print $1 / $2 }' | median)
		name="RAM loop, DIO"
		[ "$target" = file ] && name="cached file"
		awk -v n="$name" -v z="$size" -v s="$s" -v f="$f" -v b="$b" -v rf="$rf" -v rb="$rb" 'BEGIN {
			printf "%-14s %6d %10d %10d %10d %10.3f %10.3f\n", n, z, s, f, b, rf, rb }'
	done
done
echo
echo "targets: sekto/fio >= 1.000 and sekto/bare >= 0.950"
