# bash completion for zentrop-cli and zentrop-lcf: commands, each command's options (taken from its own
# --help, so they never fall behind), the translators' lcf commands, ports, modes and file
# names by kind.
_zentrop_cli()
{
    local cur prev
    local -a command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    command=("${COMP_WORDS[1]}")

    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "info flash probe station config ports pack monitor lcf --help --version" -- "$cur"))
        return
    fi
    if [ "${command[0]}" = lcf ]; then
        if [ "$COMP_CWORD" -eq 2 ]; then
            COMPREPLY=($(compgen -W "dump template build --help" -- "$cur"))
            return
        fi
        command+=("${COMP_WORDS[2]}")
        # "--lang LCID=FILE.po": bash splits the word at "=", so the PO file follows "LCID" "=".
        if [ "$prev" = "=" ] && [[ ${COMP_WORDS[COMP_CWORD-2]} =~ ^[0-9][0-9a-fA-Fx]*$ ]]; then
            COMPREPLY=($(compgen -f -X '!*.po' -- "$cur") $(compgen -d -- "$cur"))
            return
        fi
    fi
    case $prev in
        -p|--port)
            # A station waits for boards under their by-id names, which a pattern may widen.
            if [ "${command[0]}" = station ]; then
                COMPREPLY=($(compgen -f -- "${cur:-/dev/serial/by-id/}"))
                return
            fi
            COMPREPLY=($(compgen -W "$(zentrop-cli ports 2>/dev/null | awk '{print $1}')" -- "$cur"))
            return ;;
        -m|--mode)
            COMPREPLY=($(compgen -W "flash eeprom both all" -- "$cur"))
            return ;;
        --reset)
            COMPREPLY=($(compgen -W "none dtr rts both" -- "$cur"))
            return ;;
        --map)
            COMPREPLY=($(compgen -W "crlf lfcrlf igncr send-crlf send-lf" -- "$cur"))
            return ;;
        -f|--flash|-e|--eeprom)
            COMPREPLY=($(compgen -f -X '!*.@(hex|ihx|ihex|bin|raw)' -- "$cur") $(compgen -d -- "$cur"))
            return ;;
        -l|--log|-o|--output|--ports-from|--events|--config|--serial-file)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        -b|--baud)
            COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(zentrop-cli "${command[@]}" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)" -- "$cur"))
        return
    fi
    case ${command[*]} in
        info|flash|probe|station) COMPREPLY=($(compgen -f -X '!*.upg' -- "$cur") $(compgen -d -- "$cur")) ;;
        "lcf dump") COMPREPLY=($(compgen -f -X '!*.lcf' -- "$cur") $(compgen -d -- "$cur")) ;;
    esac
}
# zentrop-lcf COMMAND ... completes as "zentrop-cli lcf COMMAND ...", which runs it.
_zentrop_lcf()
{
    COMP_WORDS=(zentrop-cli lcf "${COMP_WORDS[@]:1}")
    COMP_CWORD=$((COMP_CWORD + 1))
    _zentrop_cli
}
shopt -s extglob
complete -o filenames -F _zentrop_cli zentrop-cli
complete -o filenames -F _zentrop_lcf zentrop-lcf
