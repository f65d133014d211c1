# bash completion for sekto-verdict; with -x, sekto's arguments follow its own.

declare -F _sekto_arguments >/dev/null || __load_completion sekto

_sekto_verdict()
{
	local cur prev words cword i w run=false
	_init_completion || return
	for ((i = 1; i < cword; i++)); do
		w=${words[i]}
		case $w in
		--)
			$run && _sekto_arguments $((i + 1))
			$run || _filedir
			return
			;;
		-*[dgkn])
			[[ $w == *x* ]] && run=true
			if ((i + 1 == cword)); then
				case $w in
				*d) _sekto_devices; _filedir ;;
				*g) _filedir ;;
				*k) _filedir -d ;;
				*n) COMPREPLY=($(compgen -W '3 5 7 9' -- "$cur")) ;;
				esac
				return
			fi
			((i++))
			;;
		-[!dgkn]*) [[ ${w%%[dgkn]*} == *x* ]] && run=true ;;
		*)
			# the first operand ends the options: in run mode it begins sekto's arguments
			$run && _sekto_arguments "$i"
			$run || _filedir
			return
			;;
		esac
	done
	if [[ $cur == -* ]]; then
		COMPREPLY=($(compgen -W '-d -g -j -k -n -p -x --' -- "$cur"))
		return
	fi
	$run && { _sekto_arguments "$cword"; return; }
	_filedir
}
complete -F _sekto_verdict sekto-verdict
