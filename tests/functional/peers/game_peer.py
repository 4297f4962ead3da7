"""A game server for the functional tests, written from the wire formats.

Datagrams start with a 12-byte header, little-endian: fragment index (1
byte), flags (1: acknowledgement, 2: reliable, 4: fragment), total length
(2: payload + 12), sequence (4), message id (4). A reliable datagram is
acknowledged by a bare header with flag 1 and its sequence. The payload is
a cipher packet: seed and checksum (2 bytes each, little-endian), then the
body xor-ed with the low bytes of a generator (state = state * 7563921 + 1,
mod 2^32) seeded with the seed; the checksum is the 16-bit sum of the plain
body. Body fields are big-endian. The question is message 65 alone; the
answer is 65, the version (4 bytes), the server count (2, unsigned), then per
server its port (2), the name length (2) and the name.
"""

import random
import select
import socket
import struct
import threading
import time

ACK, RELIABLE = 0x01, 0x02


def _keystream(body, seed):
    out, state = bytearray(), seed
    for byte in body:
        state = (state * 7563921 + 1) & 0xFFFFFFFF
        out.append(byte ^ (state & 0xFF))
    return bytes(out)


def encipher(body, seed):
    return struct.pack("<HH", seed, sum(body) & 0xFFFF) + _keystream(body, seed)


def decipher(packet):
    """(plain body, whether its checksum matches)."""
    if len(packet) < 4:
        return b"", False
    seed, expected = struct.unpack_from("<HH", packet)
    body = _keystream(packet[4:], seed)
    return body, sum(body) & 0xFFFF == expected


def answer(version, servers, count=None):
    """The body of the answer to message 65; `count` overrides the count."""
    body = struct.pack(">hIH", 65, version, len(servers) if count is None else count)
    for host, port in servers:
        body += struct.pack(">HH", port, len(host)) + host.encode()
    return body


def header(flags, total, sequence):
    return struct.pack("<BBHII", 0, flags, total, sequence, 0)


class GamePeer:
    """Answers message 65 on a UDP port of its own. It stays silent (no
    acknowledgement, no answer) for the first `silent` questions, and sends
    the bodies of `answers` in place of its answer to the next ones."""

    def __init__(self, version, servers=(), host="127.0.0.1", port=0, silent=0, answers=()):
        self.version, self.servers = version, list(servers)
        self.silent, self.script = silent, list(answers)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((host, port))
        self.port = self.sock.getsockname()[1]
        self.datagrams = []  # (time, bytes) of every datagram received
        self.questions = []  # time of the first copy of every message 65
        self.unacknowledged = {}  # sequence -> [datagram, address, next resend, resends left]
        self.sequence = 0
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def stop(self):
        self.running = False
        self.thread.join()
        self.sock.close()

    def _serve(self):
        seen = set()
        while self.running:
            if select.select([self.sock], [], [], 0.02)[0]:
                data, address = self.sock.recvfrom(2048)
                self.datagrams.append((time.monotonic(), data))
                self._receive(data, address, seen)
            for sequence, entry in list(self.unacknowledged.items()):
                if entry[2] <= time.monotonic():
                    self.sock.sendto(entry[0], entry[1])
                    entry[2] += 1.0
                    entry[3] -= 1
                    if entry[3] == 0:
                        del self.unacknowledged[sequence]

    def _receive(self, data, address, seen):
        if len(data) < 12:
            return
        flags, sequence = data[1], struct.unpack_from("<I", data, 4)[0]
        if flags & ACK:
            self.unacknowledged.pop(sequence, None)
            return
        body, intact = decipher(data[12:])
        question, new = intact and body == b"\x00\x41", (address, sequence) not in seen
        seen.add((address, sequence))
        if question and new:
            self.questions.append(time.monotonic())
        if question and len(self.questions) <= self.silent:
            return  # not there yet: no acknowledgement, no answer
        if flags & RELIABLE:
            self.sock.sendto(header(ACK, 0, sequence), address)
        if question and new:
            index = len(self.questions) - self.silent - 1
            body = self.script[index] if index < len(self.script) else answer(
                self.version, self.servers)
            self._send(encipher(body, random.randint(0, 512)), address)

    def _send(self, payload, address):
        datagram = header(RELIABLE, len(payload) + 12, self.sequence) + payload
        # Sent reliably: again every second until acknowledged, six times at most.
        self.unacknowledged[self.sequence] = [datagram, address, time.monotonic() + 1.0, 5]
        self.sequence += 1
        self.sock.sendto(datagram, address)
