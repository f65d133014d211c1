# bash completion for sekto, and for the sekto part of sekto-verdict -x.

# The sizes that -l, -h and -t take: the powers of two from 512 to 1g.
_sekto_sizes()
{
	COMPREPLY=($(compgen -W '512 1k 2k 4k 8k 16k 32k 64k 128k 256k 512k 1m 2m 4m 8m 16m 32m 64m 128m 256m 512m 1g' -- "$cur"))
}

# Adds every block device the kernel knows, whole disks and partitions, as /dev/NAME.
_sekto_devices()
{
	local d names=()
	for d in /sys/class/block/*; do
		[ -e "$d" ] && names+=("/dev/${d##*/}")
	done
	COMPREPLY+=($(compgen -W '${names[@]}' -- "$cur"))
}

# Completes sekto's arguments from words[$1] on, read as its getopt reads
# them: options until the device, which ends them, and nothing after it.
_sekto_arguments()
{
	local i ended=false
	for ((i = $1; i < cword; i++)); do
		case ${words[i]} in
		--)
			((i + 1 < cword)) && return
			ended=true
			break
			;;
		-*[lht])
			# a value-taking letter last in its word: the next word is its value
			if ((i + 1 == cword)); then
				_sekto_sizes
				return
			fi
			((i++))
			;;
		-?*) ;;
		*) return ;;
		esac
	done
	if ! $ended && [[ $cur == -* ]]; then
		COMPREPLY=($(compgen -W '-r -s -w -l -h -t' -- "$cur"))
		return
	fi
	_sekto_devices
	_filedir
}

_sekto()
{
	local cur prev words cword
	_init_completion || return
	_sekto_arguments 1
}
complete -F _sekto sekto
