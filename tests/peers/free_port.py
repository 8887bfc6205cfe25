"""Loopback ports for the drivers: one the system hands out (from its
ephemeral range) and nobody holds, free for TCP and UDP alike, so that two
test runs on one machine never meet on a port. Nothing keeps it reserved
after the call, but the system hands the same port out again only after
going round its whole range."""
import socket


def free_port():
    for _ in range(50):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as tcp, \
                socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
            tcp.bind(("127.0.0.1", 0))
            port = tcp.getsockname()[1]
            try:
                udp.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise SystemExit("no free loopback port for both TCP and UDP")
