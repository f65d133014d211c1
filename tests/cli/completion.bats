#!/usr/bin/env bats
# Shell completion as installed by make install: bash with bash-completion, and zsh.

load common

COMPLETE="$BATS_TEST_DIRNAME/complete.bash"

setup_file() {
	: "${SEKTO:?}"
	export DEST="$BATS_FILE_TMPDIR/dest"
	DESTDIR="$DEST" cmake --install "$(dirname "$SEKTO")" --prefix /usr >/dev/null
}

# What bash offers for the last of the words given, from the installed files.
offers() {
	"$COMPLETE" -d "$DEST/usr/share/bash-completion/completions" "$@"
}

@test "bash: options, block devices, sizes, and sekto's part of sekto-verdict -x" {
	[ -f /usr/share/bash-completion/bash_completion ] || skip "bash-completion is not installed"
	[ "$(offers sekto -)" = "$(printf '%s\n' -h -l -r -s -t -w)" ]
	[ "$(offers sekto -l 4)" = "$(printf '%s\n' 4k 4m)" ]
	[ "$(offers sekto -rh 1)" = "$(printf '%s\n' 128k 128m 16k 16m 1g 1k 1m)" ]
	# nothing after the device, which ends sekto's options
	[ -z "$(offers sekto /dev/null -)" ]

	# every loop device the kernel has, as /dev/NAME
	local loops=(/sys/class/block/loop*)
	[ -e "${loops[0]}" ] || skip "this kernel has no loop devices"
	offers sekto /dev/lo >"$T/got"
	for l in "${loops[@]}"; do
		grep -qx "/dev/${l##*/}" "$T/got" || { echo "/dev/${l##*/} is not offered:"; cat "$T/got"; false; }
	done
	! grep -v '^/dev/lo' "$T/got"

	[ "$(offers sekto-verdict -)" = "$(printf '%s\n' -- -d -g -j -k -n -p -x)" ]
	[ "$(offers sekto-verdict -x -- -l 4)" = "$(printf '%s\n' 4k 4m)" ]
	[ "$(offers sekto-verdict -x -n 5 -- -)" = "$(printf '%s\n' -h -l -r -s -t -w)" ]
	offers sekto-verdict -x -- -w /dev/lo | grep -qx "/dev/${loops[0]##*/}"
	# -k takes a directory, -g a file
	mkdir "$T/adir"
	touch "$T/afile"
	[ "$(offers sekto-verdict -x -k "$T/a")" = "$T/adir" ]
	[ "$(offers sekto-verdict -g "$T/af")" = "$T/afile" ]
}

@test "zsh: both functions load without error, and list options, sizes and devices on a terminal" {
	command -v zsh >/dev/null || skip "zsh is not installed"
	local fns="$DEST/usr/share/zsh/site-functions"
	run zsh -fc "fpath=('$fns' \$fpath)
		autoload -U compinit && compinit -u -d '$T/zcompdump' &&
		autoload -U +X _sekto _sekto-verdict &&
		print -r -- \$_comps[sekto] \$_comps[sekto-verdict]"
	[ "$status" -eq 0 ]
	[ "$output" = "_sekto _sekto-verdict" ]

	zsh -f "$BATS_TEST_DIRNAME/complete.zsh" "$fns" 'sekto -l 4' 'sekto -' 'sekto-verdict -x -- -h 1' \
		'sekto /dev/lo' >"$T/listed" 2>&1
	# each line's choices, as zsh lists them below it
	awk '/^== / { line = substr($0, 4); next } { print line ": " $0 }' "$T/listed" >"$T/choices"
	grep -qx 'sekto -l 4: 4k  4m' "$T/choices" || { cat "$T/listed"; false; }
	grep -q '^sekto -: -w  -- write zero bytes' "$T/choices" || { cat "$T/listed"; false; }
	grep -qx 'sekto-verdict -x -- -h 1: 128k  128m  16k   16m   1g    1k    1m' "$T/choices" ||
		{ cat "$T/listed"; false; }
	! grep -q 'bad option\|command not found' "$T/listed"
	local loops=(/sys/class/block/loop*)
	[ -e "${loops[0]}" ] || skip "this kernel has no loop devices"
	grep -q "^sekto /dev/lo: .*/dev/${loops[0]##*/} " "$T/choices" || { cat "$T/listed"; false; }
}
