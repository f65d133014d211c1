#!/usr/bin/env zsh -f
# Prints what zsh's completion lists for each command line given, after a line
# "== LINE": an interactive zsh on a pseudo-terminal, with the completion
# functions of the directory named first, asked to list the choices (^D).
#
#   complete.zsh functions-dir line ...
zmodload zsh/zpty || exit 1
dir=$1
shift
zpty z env TERM=dumb zsh -f
zpty -w z "fpath=(${(q)dir} \$fpath); autoload -U compinit; compinit -u -d ${(q)${TMPDIR:-/tmp}}/complete-zsh.$$; PS1='> '; LISTMAX=1000"
# waits for the output of a command that prints a marker without typing it
function settle {
	local out
	zpty -w z 'print -r -- XX""END'
	zpty -r z out '*XXEND*' || return 1
	print -r -- "$out"
}
settle >/dev/null
for line in "$@"; do
	print -r -- "== $line"
	zpty -w -n z "$line"$'\x04'
	sleep 0.5
	zpty -w -n z $'\x15'
	settle | tr -d '\r' | sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | grep -v -e '^> ' -e 'XXEND' -e '^$' | sed "s|^${line//|/\\|}||"
done
zpty -d z
rm -f "${TMPDIR:-/tmp}/complete-zsh.$$"
