#!/bin/sh
# Writes a program's manual page from its own help texts, so the two never disagree:
#   tools/manpage.sh PROGRAM OUT.1
# The NAME line comes from the first sentence of the help's description; for a program with
# commands (a help that lists "  NAME COMMAND" lines) every command's --help follows, and after
# a command with commands of its own ("  NAME COMMAND SUB" lines in its help) each of theirs.
# The help's "exit status:" and "examples:" blocks, which end it, become sections of their own.
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
} >"$OUT.tmp"
mv "$OUT.tmp" "$OUT"
