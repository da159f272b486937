#!/usr/bin/env python3
# The client half of tst_cli_rfc2217: pySerial's RFC 2217 client against
# pcom bridge com ... -- tcpServer ... --rfc2217 on port argv[1].
# 1. Sets 57600 baud, two stop bits and RTS/CTS flow control, prints "set"
#    and waits for a line on standard input (the test looks at the line).
# 2. Sends every byte value twice and expects them back (the test echoes).
# 3. On a plain socket: a pseudo-terminal refuses even parity and 7 data
#    bits, so the answers carry what is in force; unknown options are refused.
import socket
import sys
import time

import serial

IAC, SB, SE, WILL, DO, WONT = 255, 250, 240, 251, 253, 252


def fail(message):
    print("FAIL " + message, flush=True)
    sys.exit(1)


port = int(sys.argv[1])
line = serial.serial_for_url("rfc2217://127.0.0.1:%d" % port, baudrate=9600, timeout=10)
line.baudrate = 57600
line.stopbits = serial.STOPBITS_TWO
line.rtscts = True
print("set", flush=True)
sys.stdin.readline()

data = bytes(range(256)) * 2
line.write(data)
got = b""
deadline = time.monotonic() + 10
while len(got) < len(data) and time.monotonic() < deadline:
    got += line.read(len(data) - len(got))
if got != data:
    fail("read back %d bytes: %r" % (len(got), got[:64]))
line.close()


def sub(code, *value):
    return bytes([IAC, SB, 44, code, *value, IAC, SE])


raw = socket.create_connection(("127.0.0.1", port), timeout=5)
raw.sendall(bytes([IAC, WILL, 44]) + sub(3, 3) + sub(2, 7) + sub(1, 0, 0, 0, 0) + bytes([IAC, DO, 24]))
expected = [sub(103, 1), sub(102, 8), sub(101, 0, 0, 0xE1, 0), bytes([IAC, WONT, 24])]
answers = b""
deadline = time.monotonic() + 5
while not all(e in answers for e in expected) and time.monotonic() < deadline:
    answers += raw.recv(4096)
if not all(e in answers for e in expected):
    fail("raw answers: %s" % answers.hex())
raw.close()
print("done", flush=True)
