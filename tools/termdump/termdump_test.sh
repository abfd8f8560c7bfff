#!/bin/sh
# Checks zentrop-termdump end to end: chunks in, the JSON it prints out, and its exit status
# for wrong usage and bad input.   tools/termdump/termdump_test.sh BIN_DIR
set -u
TOOL=${1:?usage: termdump_test.sh BIN_DIR}/zentrop-termdump
failed=0

check() {   # name, expected output, input, options...
    name=$1 want=$2 input=$3
    shift 3
    got=$(printf '%s' "$input" | "$TOOL" "$@" 2>/dev/null)
    if [ "$got" != "$want" ]; then
        echo "FAIL $name"
        echo "  want: $want"
        echo "  got:  $got"
        failed=1
    fi
}

status() {  # name, expected exit status, input, options...
    name=$1 want=$2 input=$3
    shift 3
    printf '%s' "$input" | "$TOOL" "$@" >/dev/null 2>&1
    got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL $name: exit status $got, want $want"
        failed=1
    fi
}

# A sequence split across chunks, an unhandled code, wrapping and a cursor position reply.
check vt100 \
    '{"app_cursor":false,"caret":[2,2],"cells":[[[65,16777215,0,false],[66,16777215,0,false]],[[67,16777215,0,false],[0,0,0,false]]],"columns":2,"rows":2,"sent":"1b5b323b3252","tabs":[1],"text":["AB","C"],"unhandled":[["ecUnknown","[1J"]],"wrap":true}' \
    '["41421b5b","31","4a43","1b5b366e"]' --columns 2 --rows 2 --wrap
# Cursor address, 7-bit data, an LF appended to CR that scrolls, and the identify reply.
check vt52 \
    '{"app_cursor":false,"caret":[1,2],"cells":[[[0,0,0,false],[65,16777215,0,false]],[[0,0,0,false],[0,0,0,false]]],"columns":2,"rows":2,"sent":"1b2f5a","tabs":[1],"text":[" A",""],"unhandled":[],"wrap":false}' \
    '["1b592121c1","0d1b5a"]' --emulation vt52 --columns 2 --rows 2 --append-lf --force7
check app_cursor_mode \
    '{"app_cursor":true,"caret":[1,1],"cells":[[[0,0,0,false],[0,0,0,false]],[[0,0,0,false],[0,0,0,false]]],"columns":2,"rows":2,"sent":"","tabs":[1],"text":["",""],"unhandled":[],"wrap":false}' \
    '["1b5b3f3168"]' --columns 2 --rows 2
# Line drawing shown as box characters, bold red, the wrap that waits, and the VT102's identify reply.
check vt102 \
    '{"app_cursor":false,"caret":[2,2],"cells":[[[108,16777215,0,false,false,true],[113,255,0,false,true,false]],[[120,16777215,0,false,false,false],[0,0,0,false,false,false]]],"columns":2,"rows":2,"sent":"1b5b3f3663","tabs":[1],"text":["┌q","x"],"unhandled":[],"wrap":true}' \
    '["1b28306c1b2842","1b5b313b33316d711b5b6d78","1b5b63"]' --emulation vt102 --columns 2 --rows 2 --wrap
status unknown_option 2 '[]' --colour
status bad_emulation 2 '[]' --emulation vt220
status not_json 3 'nonsense'
status odd_hex 3 '["123"]'
status not_a_string 3 '[12]'
exit $failed
