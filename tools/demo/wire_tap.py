"""A UDP relay for the demo: the updater talks to the tap, the tap talks to
the game server, and every datagram is kept so that the demo can count the
version questions and answers as they travel."""

import select
import socket
import threading
import time


class WireTap:
    """Listens on 127.0.0.1 (port chosen by the system) and relays to
    `upstream`. Each client gets a socket of its own towards the server, so
    the server tells clients apart as it would without the tap (every run
    of the updater numbers its datagrams from 0 again)."""

    def __init__(self, upstream):
        self.upstream = upstream
        self.front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.front.bind(("127.0.0.1", 0))
        self.port = self.front.getsockname()[1]
        self.backs = {}  # client address -> socket towards the server
        self.datagrams = []  # (seconds since start, "->" or "<-", bytes)
        self._start = time.monotonic()
        self._running = True
        self._thread = threading.Thread(target=self._relay, daemon=True)
        self._thread.start()

    def close(self):
        self._running = False
        self._thread.join(timeout=2)
        self.front.close()
        for back in self.backs.values():
            back.close()

    def _back_for(self, client):
        if client not in self.backs:
            back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            back.bind(("127.0.0.1", 0))
            self.backs[client] = back
        return self.backs[client]

    def _relay(self):
        while self._running:
            clients = {sock: client for client, sock in self.backs.items()}
            readable, _, _ = select.select([self.front, *clients], [], [], 0.05)
            for sock in readable:
                data, sender = sock.recvfrom(65536)
                if sock is self.front:
                    self._keep("->", data)
                    self._back_for(sender).sendto(data, self.upstream)
                else:
                    self._keep("<-", data)
                    self.front.sendto(data, clients[sock])

    def _keep(self, direction, data):
        self.datagrams.append((time.monotonic() - self._start, direction, data))

