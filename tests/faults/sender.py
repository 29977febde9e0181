#!/usr/bin/python3
"""Hostile and faulty bridges for the fault runs; run inside the bridge's namespace.

usage: sender.py frames SPEED RPM              ECU frames at 10 per second until stopped
       sender.py odd SPEED RPM                 malformed and oversized datagrams, then one frame
       sender.py flood COUNT SECONDS SPEED RPM  COUNT datagrams at full speed, at most SECONDS long,
                                               then one frame, repeated for a second
       sender.py hold                          keep the bridge port bound (run on the dashboard's side)

Sends only to the dashboard's address in the namespace pair. Prints "ready" once bound and
"done N" when it has sent everything; datagrams it receives go to stdout as "got HEX".
"""
import itertools
import os
import select
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from harness import BRIDGE_ADDR, DASHBOARD_ADDR, PORT, ecu_frame as frame  # noqa: E402

BRIDGE = (BRIDGE_ADDR, PORT)
DASHBOARD = (DASHBOARD_ADDR, PORT)
LARGEST_UDP_PAYLOAD = 65507
FRAME_INTERVAL = 0.1
# A full socket buffer makes the kernel drop the flood's tail, so the flood's final frame
# follows it for a second at a bridge's pace: the dashboard must end on that frame.
FINAL_COPIES = 20
FINAL_INTERVAL = 0.05


def bridge_socket():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(BRIDGE)
    print("ready", flush=True)
    return sock


def report_received(sock):
    while select.select([sock], [], [], 0)[0]:
        print("got " + sock.recv(LARGEST_UDP_PAYLOAD).hex(), flush=True)


def send_frames(sock, speed, rpm):
    while True:
        sock.sendto(frame(speed, rpm), DASHBOARD)
        report_received(sock)
        time.sleep(FRAME_INTERVAL)


def odd_datagrams():
    identification = "SN:ODD ID:1234 " + " ".join("P%d" % n for n in range(5000))
    padded_frame = frame(90, 4500).rstrip()
    return [
        ("empty", b""),
        ("largest junk", b"x" * LARGEST_UDP_PAYLOAD),
        ("NUL bytes", b"ECU: 00 00 00 00 A0\x0000 00 00 64\x00\x00"),
        ("invalid UTF-8", b"\xff\xfe\xc3\x28ECU: \xe2\x82 00 00 \xf0\x9f\x9a 50 \xed\xa0\x80"),
        ("only NUL", b"\x00" * 64),
        ("identification of 5002 parts", identification.encode()),
        ("largest frame", padded_frame + b" " * (LARGEST_UDP_PAYLOAD - len(padded_frame))),
    ]


def send_odd(sock, speed, rpm):
    for name, payload in odd_datagrams():
        print("sending %s (%d bytes)" % (name, len(payload)), flush=True)
        sock.sendto(payload, DASHBOARD)
        time.sleep(0.5)
        report_received(sock)
    send_frames(sock, speed, rpm)


def flood(count, seconds, speed, rpm):
    sock = bridge_socket()
    junk = b"junk " * 200
    varied = itertools.cycle([frame(n % 181, (n * 97) % 8000) for n in range(256)] + [junk, b""])
    final = frame(speed, rpm)
    deadline = time.monotonic() + seconds
    sent = 0
    while sent < count and time.monotonic() < deadline:
        sock.sendto(next(varied), DASHBOARD)
        sent += 1
    print("done %d in %.2f s" % (sent, seconds - max(deadline - time.monotonic(), 0)), flush=True)
    for _ in range(FINAL_COPIES):
        sock.sendto(final, DASHBOARD)
        time.sleep(FINAL_INTERVAL)


def hold():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", PORT))
    print("ready", flush=True)
    while True:
        sock.recv(LARGEST_UDP_PAYLOAD)


def main(args):
    mode = args[0]
    if mode == "frames":
        send_frames(bridge_socket(), int(args[1]), int(args[2]))
    elif mode == "odd":
        send_odd(bridge_socket(), int(args[1]), int(args[2]))
    elif mode == "flood":
        flood(int(args[1]), float(args[2]), int(args[3]), int(args[4]))
    elif mode == "hold":
        hold()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
