#!/usr/bin/env python3
"""Prints every HTTP request sent over loopback, one line each:
"PORT METHOD TARGET HOST", until stopped; the first line, "# ready",
comes once it reads the device. Reads the loopback device
(AF_PACKET, needs CAP_NET_RAW in the network namespace), so that the
program being watched is told nothing.

    http_requests.py OUTPUT_FILE
"""
import socket
import struct
import sys

ETH_P_ALL = 0x0003
PACKET_HOST = 0  # received; the same packet sent is seen once more as outgoing

out = open(sys.argv[1], "a", buffering=1)
sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
sniffer.bind(("lo", 0))
out.write("# ready\n")
while True:
    frame, where = sniffer.recvfrom(65535)
    if where[2] != PACKET_HOST or len(frame) < 14 + 20:
        continue
    ip = frame[14:]
    if ip[0] >> 4 != 4 or ip[9] != 6:  # IPv4, TCP
        continue
    tcp = ip[(ip[0] & 0x0F) * 4:]
    if len(tcp) < 20:
        continue
    port = struct.unpack("!H", tcp[2:4])[0]
    payload = tcp[(tcp[12] >> 4) * 4:]
    if not payload.startswith((b"GET ", b"HEAD ")):
        continue
    lines = payload.split(b"\r\n")
    parts = lines[0].split(b" ")
    host = next((line[5:].strip() for line in lines[1:] if line[:5].lower() == b"host:"), b"-")
    if len(parts) >= 2:
        out.write("%d %s %s %s\n" % (port, parts[0].decode(errors="replace"),
                                      parts[1].decode(errors="replace"), host.decode(errors="replace")))
