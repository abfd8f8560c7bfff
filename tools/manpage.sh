#!/bin/sh
# Writes a program's manual page from its own help texts, so the two never disagree:
#   tools/manpage.sh PROGRAM OUT.1
# The NAME line comes from the first sentence of the help's description; for a program with
# commands (a help that lists "  NAME COMMAND" lines) every command's --help follows, and after
# a command with commands of its own ("  NAME COMMAND SUB" lines in its help) each of theirs.
# The help's "exit status:" and "examples:" blocks, which end it, become sections of their own.
# A program that describes its JSON output ("PROGRAM help json") gets a JSON OUTPUT section;
# every page ends with ENVIRONMENT, FILES and SEE ALSO.
set -eu
PROGRAM=${1:?usage: tools/manpage.sh PROGRAM OUT.1}
OUT=${2:?usage: tools/manpage.sh PROGRAM OUT.1}
NAME=$(basename "$PROGRAM")

# Lines as they are: backslashes and hyphens escaped, control lines defused.
roff() {
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

help=$("$PROGRAM" --help)
version=$("$PROGRAM" --version)
summary=$(printf '%s\n' "$help" | sed -n '3p' | sed -e 's/[.:].*//' -e 's/^./\L&/')
upper=$(printf '%s' "$NAME" | tr '[:lower:]' '[:upper:]')

# The commands that a help lists after "  NAME WORDS ": commands_of "WORDS " HELP.
commands_of() {
    printf '%s\n' "$2" | sed -n "s/^  $NAME $1\\([a-z][a-z-]*\\).*/\\1/p" | uniq
}

# One section for "NAME WORDS --help", then one for each command that it lists.
section() {
    text=$("$PROGRAM" "$@" --help)
    printf '.SH "COMMAND %s"\n.nf\n' "$(printf '%s' "$*" | tr '[:lower:]' '[:upper:]')"
    printf '%s\n' "$text" | roff
    printf '.fi\n'
    for sub in $(commands_of "$* " "$text"); do
        section "$@" "$sub"
    done
}

# The block of the help that starts with the line "TITLE:", up to the next empty line.
block() {
    printf '%s\n' "$help" | awk -v title="$1:" '$0 == title { on = 1; next } /^$/ { on = 0 } on'
}
# The help without those blocks, whose example lines are no list of commands.
description=$(printf '%s\n' "$help" | awk '/^(exit status|examples):$/ { exit } { print }')

{
    printf '.TH %s 1 "" "%s" "User Commands"\n' "$upper" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$NAME" "$(printf '%s' "$summary" | roff)"
    printf '.SH DESCRIPTION\n.nf\n'
    printf '%s\n' "$description" | roff
    printf '.fi\n'
    for c in $(commands_of "" "$description"); do
        section "$c"
    done
    for title in "exit status" examples; do
        printf '.SH "%s"\n.nf\n' "$(printf '%s' "$title" | tr '[:lower:]' '[:upper:]')"
        block "$title" | roff
        printf '.fi\n'
    done
    if [ "$NAME" = zentrop-cli ]; then
        printf '.SH "JSON OUTPUT"\n.nf\n'
        "$PROGRAM" help json | roff
        printf '.fi\n'
    fi
    printf '.SH ENVIRONMENT\n'
    if [ "$NAME" = zentrop-cli ]; then
        printf '.TP\n.B ZENTROP_PORT\nThe port flash and probe take when no \\-\\-port is given (over the settings file).\n'
        printf '.TP\n.B ZENTROP_BAUD\nThe line speed flash and probe take when no \\-\\-baud is given (over the settings file).\n'
    fi
    printf '.TP\n.B TERM\nA terminal other than \\fBdumb\\fR gets redrawn progress lines.\n'
    printf '.TP\n.B NO_COLOR\nWhen set, no colours.\n'
    printf '.TP\n.B XDG_CONFIG_HOME\nWhere the settings of the window programs lie when their own directory cannot be written (default ~/.config).\n'
    printf '.SH FILES\n'
    if [ "$NAME" = zentrop-cli ]; then
        printf '.TP\n.I $XDG_CONFIG_HOME/zentrop/cli.ini\nThe fixture'"'"'s defaults for flash and probe ([flash] port, baud, reset, mode, retries, flash\\-page\\-size, eeprom\\-page\\-size); "zentrop\\-cli config" shows them.\n'
    fi
    printf '.TP\n.I /dev/serial/by\\-id/\nPort names that stay the same whichever USB socket an adapter is plugged into.\n'
    printf '.TP\n.I $XDG_CONFIG_HOME/zentrop/\nThe settings and language files of an installed zentrop and zentrop\\-term.\n'
    printf '.TP\n.I share/zentrop/60\\-zentrop\\-serial.rules\nA sample udev rule for the serial adapters of a fixture.\n'
    printf '.SH "SEE ALSO"\n'
    see=""
    for other in zentrop zentrop-cli zentrop-term zentrop-lcf; do
        [ "$other" = "$NAME" ] || see="$see${see:+, }.BR $other (1)"
    done
    printf '%s\n' "$see" | sed 's/, /\n/g'
    printf '.BR ser2net (8)\n'
} >"$OUT.tmp"
mv "$OUT.tmp" "$OUT"
