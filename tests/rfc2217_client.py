#!/usr/bin/env python3
# The client half of tst_cli_links (rfc2217WithPyserial): pySerial's RFC 2217 client against
# pcom bridge com ... -- tcpServer ... --rfc2217 on port argv[1].
# 1. Sets 57600 baud, two stop bits and RTS/CTS flow control, prints "set" and
#    CTS as the server told it unasked (no poll_modem), and waits for a line on standard input (the test looks at the line).
# 2. Sends every byte value twice and expects them back (the test echoes).
# Several clients at once: tst_rfc2217.
import sys
import time

import serial

line = serial.serial_for_url("rfc2217://127.0.0.1:%d" % int(sys.argv[1]), baudrate=9600, timeout=10)
line.baudrate = 57600
line.stopbits = serial.STOPBITS_TWO
line.rtscts = True
print("set cts=%s" % line.cts, flush=True)
sys.stdin.readline()

data = bytes(range(256)) * 2
line.write(data)
got = b""
deadline = time.monotonic() + 10
while len(got) < len(data) and time.monotonic() < deadline:
    got += line.read(len(data) - len(got))
line.close()
print("done" if got == data else "FAIL read back %d bytes: %r" % (len(got), got[:64]), flush=True)
sys.exit(0 if got == data else 1)
