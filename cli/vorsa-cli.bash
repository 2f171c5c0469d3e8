# Bash completion for vorsa-cli: commands, options, formats, source groups and file names.
_vorsa_cli() {
    local cur prev cmd i
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    cmd=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -o|--output|--format|--jobs|--pace|--groups) ((i++)) ;;
            -*) ;;
            *) cmd=${COMP_WORDS[i]}; break ;;
        esac
    done
    case $prev in
        --format) COMPREPLY=($(compgen -W "txt html csv json" -- "$cur")); return ;;
        --groups) COMPREPLY=($(compgen -W "domestic foreign custom domestic,foreign domestic,foreign,custom" -- "$cur")); return ;;
        --jobs|--pace) return ;;
        -o|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    if [[ -z $cmd ]]; then
        COMPREPLY=($(compgen -W "harvest check run lookup list proxy --help --version" -- "$cur"))
        return
    fi
    case $cmd in
        proxy) [[ $prev == proxy ]] && COMPREPLY=($(compgen -W "get set off" -- "$cur")) ;;
        harvest) COMPREPLY=($(compgen -W "--groups -o --format" -- "$cur")) ;;
        run) COMPREPLY=($(compgen -W "--groups --jobs --pace -o --format" -- "$cur")) ;;
        check) if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--jobs --pace -o --format" -- "$cur")); else COMPREPLY=($(compgen -f -- "$cur")); fi ;;
        lookup|list) if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "-o --format" -- "$cur")); else COMPREPLY=($(compgen -f -- "$cur")); fi ;;
    esac
}
complete -F _vorsa_cli vorsa-cli
