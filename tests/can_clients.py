#!/usr/bin/env python3
# The client half of tst_canserve (pythonCan): python-can's own socketcand or
# slcan interface against pcom bridge canBus ... -- KIND ...
#   can_clients.py socketcand PORT COUNT | can_clients.py slcan URL COUNT
# 1. Reads until a probe frame (7FF) arrived, then prints "ready".
# 2. Sends COUNT frames (frame(i): base and extended identifiers in turn),
#    then receives COUNT frames, which must be frame(0), frame(1), ...
# With socketcand, a client that opens another bus must be refused, and a
# second client in raw mode at the same time must get every frame too.
import socket
import sys
import time

import can

kind, target, count = sys.argv[1], sys.argv[2], int(sys.argv[3])


def frame(i):
    ext = i % 2 == 1
    return can.Message(arbitration_id=0x1000000 + i if ext else i % 0x7FF, is_extended_id=ext,
                       data=i.to_bytes(2, "big"))


def fail(text):
    print("FAIL " + text, flush=True)
    sys.exit(1)


def read_all(sock, done):
    got, deadline = b"", time.monotonic() + 30
    while not done(got) and time.monotonic() < deadline:
        chunk = sock.recv(65536)
        if not chunk:
            break
        got += chunk
    return got


if kind == "socketcand":
    port = int(target)
    refused = socket.create_connection(("127.0.0.1", port), timeout=10)
    refused.sendall(b"< open other >")
    answer = read_all(refused, lambda got: False)
    if answer != b"< hi >< error no bus other here >":
        fail("refused client read %r" % answer)
    watcher = socket.create_connection(("127.0.0.1", port), timeout=10)
    watcher.sendall(b"< open can0 >")
    read_all(watcher, lambda got: got.endswith(b"< ok >"))
    watcher.sendall(b"< rawmode >")
    read_all(watcher, lambda got: got.endswith(b"< ok >"))
    bus = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")
else:
    bus = can.Bus(interface="slcan", channel=target, bitrate=500000, sleep_after_open=0)

for attempt in range(100):
    message = bus.recv(10)
    if message is not None and message.arbitration_id == 0x7FF:
        break
print("ready", flush=True)

for i in range(count):
    bus.send(frame(i))
for i in range(count):
    message = bus.recv(10)
    while message is not None and message.arbitration_id == 0x7FF:
        message = bus.recv(10)
    want = frame(i)
    if message is None or message.arbitration_id != want.arbitration_id or message.data != want.data:
        fail("frame %d: %r, not %r" % (i, message, want))
if kind == "socketcand":
    seen = read_all(watcher, lambda got: got.count(b"< frame ") - got.count(b"< frame 7FF ") >= count)
    if seen.count(b"< frame ") - seen.count(b"< frame 7FF ") != count:
        fail("the second client saw %r" % seen[-200:])
bus.shutdown()
print("done", flush=True)
