# SPDX-License-Identifier: GPL-3.0-or-later
"""Plays the panel's part of the control exchange with the rig simulator, for software that has no
control channel of its own (a GStreamer pipeline): announces ADDRESS:PORT in "localInfo", asks for
audio with "startOutput" once "hostInfo" arrives, answers pings, and holds the connection until
it is terminated.

    host_driver.py HOST:WSPORT ANNOUNCED_ADDRESS ANNOUNCED_PORT
"""
import base64
import json
import os
import signal
import socket
import struct
import sys


def send_frame(sock, opcode, payload):
    mask = os.urandom(4)
    header = bytes([0x80 | opcode])
    n = len(payload)
    if n < 126:
        header += bytes([0x80 | n])
    elif n < 65536:
        header += bytes([0x80 | 126]) + struct.pack("!H", n)
    else:
        header += bytes([0x80 | 127]) + struct.pack("!Q", n)
    masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    sock.sendall(header + mask + masked)


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("connection closed")
        data += chunk
    return data


def read_frame(sock):
    b0, b1 = read_exact(sock, 2)
    n = b1 & 0x7F
    if n == 126:
        n = struct.unpack("!H", read_exact(sock, 2))[0]
    elif n == 127:
        n = struct.unpack("!Q", read_exact(sock, 8))[0]
    return b0 & 0x0F, read_exact(sock, n)


def main():
    host, port = sys.argv[1].rsplit(":", 1)
    address, announced = sys.argv[2], int(sys.argv[3])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sock = socket.create_connection((host, int(port)))
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall((f"GET / HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n").encode())
    reply = b""
    while b"\r\n\r\n" not in reply:
        reply += read_exact(sock, 1)
    if b" 101 " not in reply.split(b"\r\n", 1)[0]:
        sys.exit(f"host_driver: handshake refused: {reply.splitlines()[0]!r}")
    info = {"message": "localInfo", "localAddress": address, "localPort": announced}
    send_frame(sock, 0x1, json.dumps(info).encode())
    while True:
        opcode, payload = read_frame(sock)
        if opcode == 0x9:
            send_frame(sock, 0xA, payload)
        elif opcode == 0x8:
            return
        elif opcode == 0x1 and json.loads(payload).get("message") == "hostInfo":
            send_frame(sock, 0x1, b'{"message": "startOutput"}')
            print("started", flush=True)


if __name__ == "__main__":
    main()
