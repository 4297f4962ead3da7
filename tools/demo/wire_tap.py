"""A UDP relay for the demo: the updater talks to the tap, the tap talks to
the game server, and every datagram is kept so that the demo can show the
version question and its answer as they travel: the 12-byte link header,
the cipher header and the deciphered body."""

import select
import socket
import struct
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "functional" / "peers"))

from game_peer import decipher  # noqa: E402

FLAG_NAMES = ((0x01, "ack"), (0x02, "reliable"), (0x04, "fragment"))


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


def hex_bytes(data, limit=32):
    text = " ".join(f"{b:02X}" for b in data[:limit])
    return text + (f" ... ({len(data)} bytes)" if len(data) > limit else "")


def describe(direction, data):
    """Lines that show one datagram: header fields, then the message."""
    who = "updater -> game server" if direction == "->" else "game server -> updater"
    if len(data) < 12:
        return [f"{who}: {hex_bytes(data)} (too short for a header)"]
    index, flags, total, sequence, message_id = struct.unpack_from("<BBHII", data)
    names = "+".join(n for bit, n in FLAG_NAMES if flags & bit) or "unreliable"
    lines = [f"{who}: {len(data)} bytes, flags 0x{flags:02X} ({names}), sequence {sequence}, "
             f"total length {total}" + (f", fragment {index} of message {message_id}"
                                        if flags & 0x04 else "")]
    lines.append(f"    link header   {hex_bytes(data[:12])}")
    payload = data[12:]
    if flags & 0x01 or not payload:
        return lines
    seed, checksum = struct.unpack_from("<HH", payload) if len(payload) >= 4 else (0, 0)
    lines.append(f"    enciphered    {hex_bytes(payload)}")
    body, ok = decipher(payload)
    lines.append(f"    cipher header seed {seed}, checksum 0x{checksum:04X} "
                 f"({'matches' if ok else 'does NOT match'})")
    lines.append(f"    body          {hex_bytes(body)}")
    if len(body) >= 2:
        ident = struct.unpack_from(">h", body)[0]
        if ident == 65 and len(body) == 2:
            lines.append("    = message 65: which version is current, which patch servers?")
        elif ident == 65 and len(body) >= 8:
            version, count = struct.unpack_from(">IH", body, 2)
            lines.append(f"    = message 65 answered: version {version}, {count} patch server(s)"
                         + _servers(body[8:], count))
    return lines


def _servers(rest, count):
    names, at = [], 0
    for _ in range(count):
        if at + 4 > len(rest):
            break
        port, length = struct.unpack_from(">Hh", rest, at)
        at += 4
        names.append(f"{rest[at:at + max(length, 0)].decode('latin-1')}:{port}")
        at += max(length, 0)
    return (": " + ", ".join(names)) if names else ""
