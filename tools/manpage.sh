#!/bin/sh
# Writes a program's manual page from its own help texts, so the two never disagree:
#   tools/manpage.sh PROGRAM OUT.1
# The NAME line comes from the first sentence of the help's description; for a program with
# commands (a help that lists "  NAME COMMAND" lines) every command's --help follows.
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
commands=$(printf '%s\n' "$help" | sed -n "s/^  $NAME \\([a-z][a-z-]*\\).*/\\1/p" | uniq)

{
    printf '.TH %s 1 "" "%s" "User Commands"\n' "$upper" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$NAME" "$(printf '%s' "$summary" | roff)"
    printf '.SH DESCRIPTION\n.nf\n'
    printf '%s\n' "$help" | roff
    printf '.fi\n'
    for c in $commands; do
        printf '.SH "COMMAND %s"\n.nf\n' "$(printf '%s' "$c" | tr '[:lower:]' '[:upper:]')"
        "$PROGRAM" "$c" --help | roff
        printf '.fi\n'
    done
} >"$OUT.tmp"
mv "$OUT.tmp" "$OUT"
