#!/usr/bin/python3
"""Captures the live screen of `fluxtrim watch` as text, for the README.

Runs `fluxtrim watch - --lat 48.5578 --lon 3.2914 --alt 89 --until never` with its standard
error on a pseudo-terminal of 80 x 30, feeds it a generated tumble at 200 samples a second on
standard input (a banner first, a status line among the samples), stops it with Ctrl-C after
the given seconds, and prints the screen as the terminal shows it then, colours dropped.

    tools/watch_screen.py build/fluxtrim [SECONDS]
"""
import fcntl
import math
import os
import pty
import random
import re
import signal
import struct
import subprocess
import sys
import termios
import time


def tumble_lines(count):
    """Lines "x,y,z" in gauss: a device turned slowly, with hard and soft iron and noise."""
    rnd = random.Random(7)
    offset = (0.06, -0.04, 0.09)
    lines = []
    for k in range(count):
        # A slow sweep that covers the sphere band by band, as a hand turns a board.
        z = math.cos(math.pi * (k % 3200) / 3200.0)
        phi = 0.11 * k
        r = math.sqrt(max(0.0, 1.0 - z * z))
        u = (r * math.cos(phi), r * math.sin(phi), z)
        m = [offset[i] + 0.48 * (u[i] * (1.03, 0.98, 0.99)[i]) + rnd.gauss(0.0, 0.002)
             for i in range(3)]
        lines.append("%.5f,%.5f,%.5f\n" % tuple(m))
    return lines


def render(data, rows=30, columns=80):
    """The screen after the bytes: cursor moves up, carriage returns, line feeds, erase to the
    end of the line; colour and cursor visibility sequences ignored."""
    screen = [[" "] * columns for _ in range(rows)]
    row = col = 0
    text = data.decode("utf-8", "replace")
    k = 0
    while k < len(text):
        c = text[k]
        if c == "\x1b":
            m = re.match(r"\x1b\[(\??)(\d*)([A-Za-z])", text[k:])
            if m:
                n = int(m.group(2) or 1)
                if m.group(3) == "A":
                    row = max(0, row - n)
                elif m.group(3) == "K":
                    screen[row][col:] = [" "] * (columns - col)
                k += m.end()
                continue
        if c == "\r":
            col = 0
        elif c == "\n":
            row += 1
            col = 0
            if row == rows:
                screen.pop(0)
                screen.append([" "] * columns)
                row -= 1
        elif col < columns:
            screen[row][col] = c
            col += 1
        k += 1
    return "\n".join("".join(line).rstrip() for line in screen).rstrip("\n")


def main():
    program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 6.0
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 80, 0, 0))
    child = subprocess.Popen(
        [program, "watch", "-", "--lat", "48.5578", "--lon", "3.2914", "--alt", "89",
         "--date", "2026-06-01", "--until", "never"],
        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=slave,
        env=dict(os.environ, TERM="xterm", NO_COLOR="1"))
    os.close(slave)
    captured = bytearray()
    lines = ["board ready, logging x,y,z in gauss\n"] + tumble_lines(int(seconds * 200))
    lines.insert(300, "status: ok\n")
    start = time.monotonic()
    for k, line in enumerate(lines):
        child.stdin.write(line.encode())
        child.stdin.flush()
        delay = start + k / 200.0 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        try:
            os.set_blocking(master, False)
            captured += os.read(master, 65536)
        except (BlockingIOError, OSError):
            pass
    time.sleep(0.05)
    child.send_signal(signal.SIGINT)
    child.wait(timeout=20)
    try:
        while True:
            chunk = os.read(master, 65536)
            if not chunk:
                break
            captured += chunk
    except OSError:
        pass
    print(render(bytes(captured)))


if __name__ == "__main__":
    main()
