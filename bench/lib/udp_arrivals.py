# SPDX-License-Identifier: GPL-3.0-or-later
"""When each UDP datagram to a port on the loopback arrived, as the kernel stamped it (so a
listener kept off a core by the load it measures still reads true times): one line
"arrival NS" (CLOCK_REALTIME ns) per datagram, until SIGINT or SIGTERM. Needs root (a packet
socket on "lo").

  udp_arrivals.py PORT
"""
import signal
import socket
import struct
import sys

ETH_P_IP = 0x0800
SO_TIMESTAMPNS = 35  # Linux; its control message has the same number
IPPROTO_UDP = 17


def main():
    port = int(sys.argv[1])
    s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IP))
    s.bind(("lo", ETH_P_IP))
    s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    s.settimeout(0.2)
    running = [True]

    def stop(*_):
        running[0] = False

    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)
    out = []
    while running[0]:
        try:
            data, ancillary, _, address = s.recvmsg(64, socket.CMSG_SPACE(16))
        except (socket.timeout, InterruptedError):
            continue
        # Each datagram on the loopback is seen going out and coming in: one of them is enough.
        if address[2] == socket.PACKET_OUTGOING or len(data) < 28 or data[9] != IPPROTO_UDP:
            continue
        header = (data[0] & 0x0F) * 4
        if struct.unpack_from("!H", data, header + 2)[0] != port:
            continue
        for level, kind, value in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                seconds, nanoseconds = struct.unpack("qq", value[:16])
                out.append(seconds * 1_000_000_000 + nanoseconds)
    sys.stdout.write("".join(f"arrival {ns}\n" for ns in out))


if __name__ == "__main__":
    main()
