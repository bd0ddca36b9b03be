#!/usr/bin/python3
"""A second RFC 2217 server for the tests, independent of ser2net: pyserial's
PortManager in front of a pseudo-terminal, one client at a time.

usage: rfc2217_server.py DEVICE PORT
"""
import select
import socket
import sys

import serial
import serial.rfc2217


class PtySerial(serial.Serial):
    """A serial port on a pseudo-terminal, which has no modem lines: line
    changes are taken and ignored, the lines read as off."""

    def _update_rts_state(self):
        try:
            super()._update_rts_state()
        except OSError:
            pass

    def _update_dtr_state(self):
        try:
            super()._update_dtr_state()
        except OSError:
            pass

    def _update_break_state(self):
        try:
            super()._update_break_state()
        except OSError:
            pass

    cts = property(lambda self: False)
    dsr = property(lambda self: False)
    ri = property(lambda self: False)
    cd = property(lambda self: False)


class Connection:
    """The client's socket as PortManager writes to it."""

    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def serve(device, port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        line = PtySerial(device, timeout=0)
        try:
            manager = serial.rfc2217.PortManager(line, Connection(conn))
            while True:
                ready, _, _ = select.select([conn, line.fileno()], [], [], 0.05)
                if line.fileno() in ready:
                    data = line.read(4096)
                    if data:
                        conn.sendall(b"".join(manager.escape(data)))
                if conn in ready:
                    data = conn.recv(4096)
                    if not data:
                        break
                    out = b"".join(manager.filter(data))
                    if out:
                        line.write(out)
        except Exception:  # a setting the line refused, a client gone: end this connection
            pass
        finally:
            line.close()
            conn.close()


if __name__ == "__main__":
    serve(sys.argv[1], int(sys.argv[2]))
