#!/usr/bin/env python3
# Answers the hidden prompt of win_prompt.exe at a console that Wine makes of a pseudo-terminal,
# the way a user at a terminal would, and checks what it read and that the answer did not echo.
#
#   console-prompt.py PROMPT_EXE
import os
import pty
import re
import select
import sys
import time


def plain(out):
    """The console's output without its escape sequences; a cursor move right stands for spaces."""
    out = re.sub(rb"\x1b\[([0-9]*)C", lambda m: b" " * int(m.group(1) or b"1"), out)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", out)


def run(program, keys):
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("wine", ["wine", program])
    out, sent, status = b"", False, None
    deadline = time.time() + 30
    while time.time() < deadline and status is None:
        if select.select([fd], [], [], 0.2)[0]:
            try:
                out += os.read(fd, 4096)
            except OSError:
                pass
        if not sent and b"Answer:" in plain(out):
            time.sleep(0.3)
            os.write(fd, keys)
            sent = True
        done, code = os.waitpid(pid, os.WNOHANG)
        if done:
            status = code >> 8
    if status is None:
        os.kill(pid, 9)
    return status, plain(out).decode("utf-8", "replace")


def main():
    program = sys.argv[1]
    failures = []
    answer = "s\u00e9cret \u65e5"
    status, text = run(program, (answer + "\r").encode("utf-8"))
    if status != 0 or f"read=1 answer=[{answer.encode('utf-8').hex()}]" not in text:
        failures.append(f"the answer was not read: status {status}, output {text!r}")
    if "cret" in text:
        failures.append(f"the hidden answer was echoed: {text!r}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
