# bash completion for pelloran-mask
_pelloran_mask()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --format) COMPREPLY=($(compgen -W 'bmp png' -- "$cur")); return ;;
        --depth) COMPREPLY=($(compgen -W '1 24' -- "$cur")); return ;;
        -o|--output-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --files-from|--log) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -t|--transparency|-m|--mask|-f|--fuzz|-s|--suffix|--pattern|-j|--jobs) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-t --transparency -m --mask -f --fuzz -a --alpha --alpha=
            -s --suffix -o --output-dir --format --depth -u --update --overwrite -r --recursive
            --pattern --files-from -0 --null -j --jobs --log --dry-run -q --quiet -h --help
            -v --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -o bashdefault -F _pelloran_mask pelloran-mask
