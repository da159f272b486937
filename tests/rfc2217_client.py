#!/usr/bin/env python3
# The client half of tst_cli_rfc2217: pySerial's RFC 2217 client against
# pcom bridge com ... -- tcpServer ... --rfc2217 on port argv[1].
# 1. Sets 57600 baud, two stop bits and RTS/CTS flow control, prints "set"
#    and waits for a line on standard input (the test looks at the line).
# 2. Sends every byte value twice and expects them back (the test echoes).
# 3. Two clients at once (--clients share) on plain sockets, each offered
#    the options: while the first stops in the middle of a command, the
#    second's data reaches the line whole and its questions get answers that
#    only it sees; the first then ends its command and gets its own answer.
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


def expect(sock, wanted, seen=b""):
    deadline = time.monotonic() + 5
    while not all(w in seen for w in wanted) and time.monotonic() < deadline:
        seen += sock.recv(4096)
    if not all(w in seen for w in wanted):
        fail("answers: %s" % seen.hex())
    return seen


# The first client's answer tells that its half command was read too (one
# segment on loopback) before the second client sends.
offer = bytes([IAC, WILL, 44])
a = socket.create_connection(("127.0.0.1", port), timeout=5)
b = socket.create_connection(("127.0.0.1", port), timeout=5)
a.sendall(bytes([IAC, DO, 44]) + sub(3, 0) + bytes([IAC, SB, 44, 1, 0, 0]))
expect(a, [offer, sub(103, 1)])
b.sendall(b"hello" + bytes([IAC, IAC, IAC, DO, 44]) + sub(2, 0) + bytes([IAC, DO, 24]))
seen_b = expect(b, [offer, sub(102, 8), bytes([IAC, WONT, 24])])
a.sendall(bytes([0x4B, 0, IAC, SE]))
expect(a, [sub(101, 0, 0, 0x4B, 0)])
b.sendall(sub(4, 0))
seen_b = expect(b, [sub(104, 2)], seen_b)
if sub(101, 0, 0, 0x4B, 0) in seen_b or sub(103, 1) in seen_b:
    fail("the second client got the first one's answers")
a.close()
b.close()
print("done", flush=True)
