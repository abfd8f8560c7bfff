#!/usr/bin/env python3
"""Records what real programs send to a terminal, as the terminal's test data.

    tools/capture_term.py OUTDIR [NAME ...]

Each capture runs one program on a pseudo-terminal of 80 x 24 cells with TERM set as the
capture says and LANG=C (or the locale it names), types the capture's keys at fixed pauses, and writes every byte the
program sent to OUTDIR/NAME.vt. An identify request is answered as a VT102 answers it; other
questions get no reply. The programs come from `tools/setup.sh captures`.
"""
import os
import pty
import select
import signal
import struct
import sys
import termios
import fcntl
import time

ROWS, COLS = 24, 80
TEXT = "/usr/share/common-licenses/GPL-3"

# name: (TERM, command, [(pause in seconds, keys), ...])
CAPTURES = {
    "colours": ("vt102", ["sh", "-c", "for b in '' 1 5 7; do for c in 30 31 32 33 34 35 36 37 39 90 91 92 93 94 95 96 97; "
                                      "do printf '\\033[%s;%sm%s\\033[m ' \"$b\" $c $c; done; echo; done; "
                                      "for c in 40 41 42 43 44 45 46 47 49 100 101 102 103 104 105 106 107; "
                                      "do printf '\\033[%s;30m %s \\033[m' $c $c; done; echo; "
                                      "LS_COLORS='di=1;34:ln=1;36:ex=1;32' ls -l --color=always /usr/share/common-licenses | head -8; "
                                      "grep --color=always -n 'free' /usr/share/common-licenses/GPL-3 | head -4"], []),
    "top-batch": ("vt100", ["sh", "-c", "top -b -n 1 -w 80 | head -30"], []),
    "top": ("vt102", ["top", "-d", "0.4"], [(1.2, "")] + [(0.5, "")] + [(0.3, "q")]),
    "less": ("vt102", ["less", TEXT], [(0.4, " "), (0.3, " "), (0.3, "b"), (0.3, "kkkk"), (0.3, "yyy"),
                                        (0.3, "/software\r"), (0.3, "q")]),
    "less-vt100": ("vt100", ["less", TEXT], [(0.4, "jjjj"), (0.3, "kkkkkk"), (0.3, "G"), (0.3, "g"), (0.3, "q")]),
    "vim": ("vt102", ["vim", "-u", "NONE", "-N", "-n", "-i", "NONE", TEXT],
            [(0.6, "\x06"), (0.3, "\x06"), (0.3, "\x02"), (0.3, "\x19\x19\x19"), (0.3, "\x05\x05"),
             (0.3, "10G"), (0.3, "O"), (0.2, "Inserted line\x1b"), (0.2, "dd"), (0.2, "x"),
             (0.2, ":set nu\r"), (0.3, "\x02"), (0.3, ":q!\r")]),
    "vim-vt100": ("vt100", ["vim", "-u", "NONE", "-N", "-n", "-i", "NONE", TEXT],
                  [(0.6, "\x06"), (0.3, "\x19\x19"), (0.3, "ix\x1b"), (0.3, "dd"), (0.3, ":q!\r")]),
    "nano": ("vt102", ["nano", "--ignorercfiles", TEXT],
             [(0.6, "\x16"), (0.3, "\x0e\x0e"), (0.3, "Hello"), (0.3, "\x0b"), (0.3, "\x10\x10\x10"),
              (0.3, "\x19"), (0.3, "\x18"), (0.3, "n")]),
    "dialog-menu": ("vt102", ["dialog", "--title", "Firmware", "--menu", "Choose a port", "12", "50", "4",
                              "ttyUSB0", "USB adapter", "ttyACM0", "CDC device", "ttyS1", "Built in"],
                    [(0.5, "\x1b[B"), (0.3, "\x1b[B"), (0.3, "\r")]),
    "dialog-yesno": ("vt100", ["dialog", "--yesno", "Upgrade the device now?", "7", "40"],
                     [(0.5, "\t"), (0.3, "\r")]),
    "whiptail": ("vt102", ["whiptail", "--title", "Upgrade", "--checklist", "Memories", "12", "40", "2",
                           "flash", "Program memory", "ON", "eeprom", "Data memory", "OFF"],
                 [(0.5, " "), (0.3, "\x1b[B"), (0.3, " "), (0.3, "\r")]),
    "vttest-cursor": ("vt102", ["vttest"], [(0.5, "1\r")] + [(0.4, "\r")] * 6 + [(0.4, "0\r")]),
    "vttest-screen": ("vt102", ["vttest"], [(0.5, "2\r")] + [(0.4, "\r")] * 14 + [(0.4, "0\r")]),
    "vttest-charsets": ("vt102", ["vttest"], [(0.5, "3\r"), (0.4, "8\r")] + [(0.4, "\r")] * 3 + [(0.4, "0\r"), (0.4, "0\r")]),
    "vttest-vt102": ("vt102", ["vttest"], [(0.5, "8\r")] + [(0.4, "\r")] * 12 + [(0.4, "0\r")]),
}

# What boards set TERM to: each program once under each of them.
for term in ("linux", "xterm", "xterm-256color"):
    CAPTURES[f"htop-{term}"] = (term, ["htop", "-d", "100"], [(1.0, "\x1b[B"), (0.4, "\x1b[B"), (0.4, "q")])
    CAPTURES[f"mc-{term}"] = (term, ["mc", "-u", "-d", "/usr/share/common-licenses"],
                              [(1.2, "\x1b[B"), (0.4, "\t"), (0.4, "\x1b[B"), (0.4, "\x1b" "0")])
    CAPTURES[f"less-{term}"] = (term, ["less", TEXT], [(0.4, " "), (0.3, "b"), (0.3, "/free\r"), (0.3, "q")])
    CAPTURES[f"vim-{term}"] = (term, ["vim", "-u", "NONE", "-N", "-n", "-i", "NONE", "+syntax on", "+set nu", TEXT],
                               [(0.6, "\x06"), (0.3, "\x19\x19"), (0.3, "Onew line\x1b"), (0.3, ":q!\r")])
    CAPTURES[f"top-{term}"] = (term, ["top", "-d", "0.5"], [(0.8, ""), (0.3, "q")])
    CAPTURES[f"dialog-{term}"] = (term, ["dialog", "--colors", "--title", "Firmware", "--checklist", "Memories", "12", "50", "3",
                                         "flash", "\\Z1Program\\Zn memory", "on", "eeprom", "Data memory", "off",
                                         "fuses", "Configuration", "off"],
                                  [(0.5, "\x1b[B"), (0.3, " "), (0.3, "\r")])
# Received UTF-8: text with accents, symbols, wide characters and emoji, under a UTF-8 locale.
CAPTURES["utf8-text"] = ("xterm-256color", ["sh", "-c", "printf 'h\\303\\251llo \\342\\202\\254 \\344\\270\\255\\346\\226\\207 "
                                                  "\\360\\237\\230\\200 end\\n'; for i in 1 2 3; do "
                                                  "printf '\\342\\224\\200%.0s' $(seq 78); echo; done; "
                                                  "printf '%s\\n' 'äöü ┌┐ 日本語 x\u0301y'"], [], "C.UTF-8")


def capture(term, argv, keys, lang="C"):
    pid, fd = pty.fork()
    if pid == 0:
        env = {"TERM": term, "LANG": lang, "LC_ALL": lang, "HOME": os.environ.get("HOME", "/tmp"),
               "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "COLUMNS": str(COLS), "LINES": str(ROWS)}
        os.execvpe(argv[0], argv, env)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLS, 0, 0))
    out = bytearray()

    def drain(seconds):
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return True
            r, _, _ = select.select([fd], [], [], left)
            if r:
                try:
                    data = os.read(fd, 65536)
                except OSError:
                    return False
                if not data:
                    return False
                out.extend(data)
                if b"\x1b[c" in data or b"\x1b[0c" in data:
                    os.write(fd, b"\x1b[?6c")

    alive = True
    for pause, typed in keys:
        alive = drain(pause)
        if not alive:
            break
        if typed:
            os.write(fd, typed.encode("latin-1"))
    if alive:
        drain(1.0)
    os.close(fd)
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            break
        time.sleep(0.2)
        if os.waitpid(pid, os.WNOHANG)[0] == pid:
            break
    else:
        os.waitpid(pid, 0)
    return bytes(out)


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    outdir = sys.argv[1]
    names = sys.argv[2:] or list(CAPTURES)
    os.makedirs(outdir, exist_ok=True)
    for name in names:
        if name not in CAPTURES:
            print(f"unknown capture {name}", file=sys.stderr)
            return 2
        data = capture(*CAPTURES[name])
        with open(os.path.join(outdir, name + ".vt"), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
