# bash completion for zentrop-cli: commands, each command's options (taken from its own
# --help, so they never fall behind), ports, modes and file names by kind.
_zentrop_cli()
{
    local cur prev command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    command=${COMP_WORDS[1]}

    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "info flash ports pack --help --version" -- "$cur"))
        return
    fi
    case $prev in
        -p|--port)
            COMPREPLY=($(compgen -W "$(zentrop-cli ports 2>/dev/null | awk '{print $1}')" -- "$cur"))
            return ;;
        -m|--mode)
            COMPREPLY=($(compgen -W "flash eeprom both" -- "$cur"))
            return ;;
        --reset)
            COMPREPLY=($(compgen -W "dtr rts none" -- "$cur"))
            return ;;
        -f|--flash|-e|--eeprom)
            COMPREPLY=($(compgen -f -X '!*.@(hex|ihx|ihex|bin|raw)' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        -o|--output|--ports-from)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        -b|--baud)
            COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(zentrop-cli "$command" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)" -- "$cur"))
        return
    fi
    case $command in
        info|flash) COMPREPLY=($(compgen -f -X '!*.upg' -- "$cur") $(compgen -d -- "$cur")) ;;
    esac
}
shopt -s extglob
complete -o filenames -F _zentrop_cli zentrop-cli
