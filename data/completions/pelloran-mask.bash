# bash completion for pelloran-mask
# Names are put into COMPREPLY one a line, never split on blanks: "my sprite.bmp" is one
# word. With bash-completion loaded, _filedir does this and knows quoting and tildes.
_pelloran_mask_files()
{
    if declare -F _filedir > /dev/null; then
        _filedir "$@"
        return
    fi
    local kind=-f
    [[ $1 == -d ]] && kind=-d
    compopt -o filenames 2> /dev/null
    mapfile -t COMPREPLY < <(compgen $kind -- "$cur")
}

_pelloran_mask()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --format) mapfile -t COMPREPLY < <(compgen -W 'bmp png' -- "$cur"); return ;;
        --depth) mapfile -t COMPREPLY < <(compgen -W '1 24' -- "$cur"); return ;;
        -o|--output-dir) _pelloran_mask_files -d; return ;;
        --files-from|--log) _pelloran_mask_files; return ;;
        -t|--transparency|-m|--mask|--sprite-colour|-f|--fuzz|-s|--suffix|--pattern|-j|--jobs) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-t --transparency -m --mask -f --fuzz -a --alpha
            --alpha= -s --suffix -o --output-dir --format --depth -u --update --overwrite
            -r --recursive --pattern --files-from -0 --null -j --jobs --log --dry-run
            -q --quiet --sprite-colour --watch --json -h --help -v --version' -- "$cur")
        return
    fi
    _pelloran_mask_files
}
complete -o filenames -o bashdefault -F _pelloran_mask pelloran-mask
