#!/usr/bin/env bash
# Prints, one a line and sorted, what bash completion offers for the last word
# of a command line, as an interactive bash with bash-completion would.
#
#   complete.bash [-d completions-dir] word ...
#
# With -d, the completion files are loaded from that directory (an install
# under DESTDIR) rather than from where bash-completion looks by itself.
set -u
dir=
if [ "${1:-}" = -d ]; then
	dir=$2
	shift 2
fi
# bash_completion reads unset variables; it runs without set -u
set +u
. /usr/share/bash-completion/bash_completion || exit 1
[ -z "$dir" ] || BASH_COMPLETION_USER_DIR=${dir%/completions}
__load_completion "$1" || { echo "complete.bash: no completion for $1" >&2; exit 1; }
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
func=$(complete -p "$1" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
COMPREPLY=()
"$func" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}" | sort -u
