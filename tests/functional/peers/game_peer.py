"""A game server for the functional tests, written from the wire formats.

It speaks the updater's game link on one UDP socket: the 12-byte datagram
header (little-endian), acknowledgements and resends of reliable datagrams,
duplicate filtering, fragments in both directions, the packet cipher (seed and
checksum header, keystream from the 7563921/1 generator) and message 65. It
answers message 65 with a version and a list of patch servers, and can
misbehave on command (see Behaviour). Every datagram it receives is recorded.

Nothing here calls or mirrors the updater's C++: a shared misreading of the
formats would show up as a failing test.
"""
from __future__ import annotations

import dataclasses
import heapq
import itertools
import select
import socket
import struct
import threading
import time
from typing import List, Optional, Sequence, Tuple

# Datagram header flags.
ACK_FLAG = 0x01
RELIABLE_FLAG = 0x02
FRAGMENT_FLAG = 0x04

HEADER_SIZE = 12
MAX_DATAGRAM = 1024
FRAGMENT_PAYLOAD = MAX_DATAGRAM - HEADER_SIZE  # 1012
MAX_MESSAGE_PAYLOAD = 0xFFFF - HEADER_SIZE  # totalLength is 16 bits wide
HISTORY_SIZE = 100
REASSEMBLY_EXPIRY_S = 10.0

SERVER_LIST_ID = 65
DEFAULT_PORT = 11677


# ---------------------------------------------------------------- generator

class RandomGenerator:
    """Draws from [low, high] with state = state * 7563921 + 1 (mod 2^32)."""

    def __init__(self, low: int, high: int, seed: int):
        self.low = low & 0xFFFFFFFF
        self.span_end = (high + 1) & 0xFFFFFFFF
        self.state = seed & 0xFFFFFFFF

    def next(self) -> int:
        self.state = (self.state * 7563921 + 1) & 0xFFFFFFFF
        if self.span_end == self.low:
            return self.low
        return (self.low + self.state % ((self.span_end - self.low) & 0xFFFFFFFF)) & 0xFFFFFFFF


# ------------------------------------------------------------------- cipher

def checksum(body: bytes) -> int:
    return sum(body) & 0xFFFF


def _keystream_xor(body: bytes, seed: int) -> bytes:
    keys = RandomGenerator(0, 255, seed)
    return bytes(b ^ (keys.next() & 0xFF) for b in body)


def encipher(body: bytes, seed: Optional[int] = None) -> bytes:
    """The whole packet: seed and checksum (little-endian), then the body
    scrambled with the keystream. Without a seed one is drawn from 0..512
    with the seconds since 1970, as the updater does."""
    if seed is None:
        seed = RandomGenerator(0, 512, int(time.time())).next()
    return struct.pack("<HH", seed, checksum(body)) + _keystream_xor(body, seed)


def decipher(packet: bytes) -> Tuple[bytes, bool]:
    """The plain body of a packet and whether its checksum matches. Packets
    shorter than the 4-byte header give an empty body and False."""
    if len(packet) < 4:
        return b"", False
    seed, expected = struct.unpack_from("<HH", packet)
    body = _keystream_xor(packet[4:], seed)
    return body, checksum(body) == expected


# ------------------------------------------------------------------ message

def request_body() -> bytes:
    """Message 65 as the updater sends it: the id alone."""
    return struct.pack(">h", SERVER_LIST_ID)


def answer_body(version: int, servers: Sequence[Tuple[str, int]],
                declared_count: Optional[int] = None) -> bytes:
    """Message 65 from the game server: id, version, count, then per server
    its port, the length of its host name (signed) and the name's bytes.
    All fields most significant byte first."""
    count = len(servers) if declared_count is None else declared_count
    body = bytearray(struct.pack(">hIH", SERVER_LIST_ID, version & 0xFFFFFFFF, count & 0xFFFF))
    for host, port in servers:
        name = host.encode("latin-1")
        body += struct.pack(">Hh", port & 0xFFFF, len(name)) + name
    return bytes(body)


def parse_answer(body: bytes) -> Tuple[int, List[Tuple[str, int]]]:
    """The version and the servers of an answer; raises ValueError when the
    body is too short for what it announces."""
    if len(body) < 8:
        raise ValueError("answer too short")
    ident, version, count = struct.unpack_from(">hIH", body)
    if ident != SERVER_LIST_ID:
        raise ValueError("not message 65")
    servers, offset = [], 8
    for _ in range(count):
        if offset + 4 > len(body):
            raise ValueError("answer truncated")
        port, length = struct.unpack_from(">Hh", body, offset)
        offset += 4
        if length < 0 or offset + length > len(body):
            raise ValueError("answer truncated")
        servers.append((body[offset:offset + length].decode("latin-1"), port))
        offset += length
    return version, servers


# ----------------------------------------------------------------- datagram

@dataclasses.dataclass(frozen=True)
class DatagramHeader:
    fragment_index: int = 0
    flags: int = 0
    total_length: int = 0
    sequence: int = 0
    message_id: int = 0

    def pack(self) -> bytes:
        return struct.pack("<BBHII", self.fragment_index, self.flags, self.total_length,
                           self.sequence, self.message_id)

    @staticmethod
    def unpack(data: bytes) -> "DatagramHeader":
        return DatagramHeader(*struct.unpack_from("<BBHII", data))


def ack_datagram(sequence: int) -> bytes:
    return DatagramHeader(flags=ACK_FLAG, sequence=sequence).pack()


def message_datagrams(payload: bytes, first_sequence: int, reliable: bool) -> List[bytes]:
    """The datagrams of one message: one when it fits in 1024 bytes, else
    fragments of 1012 payload bytes (the last may be a bare header)."""
    total = len(payload) + HEADER_SIZE
    if total > 0xFFFF:
        raise ValueError("message too long for the 16-bit total length")
    if total <= MAX_DATAGRAM:
        flags = RELIABLE_FLAG if reliable else 0
        return [DatagramHeader(0, flags, total, first_sequence, 0).pack() + payload]
    flags = FRAGMENT_FLAG | (RELIABLE_FLAG if reliable else 0)
    count = len(payload) // FRAGMENT_PAYLOAD + 1
    datagrams = []
    for i in range(count):
        piece = payload[i * FRAGMENT_PAYLOAD:(i + 1) * FRAGMENT_PAYLOAD]
        header = DatagramHeader(i, flags, total, first_sequence + i, first_sequence)
        datagrams.append(header.pack() + piece)
    return datagrams


# --------------------------------------------------------------------- peer

@dataclasses.dataclass
class Behaviour:
    """How the peer (mis)behaves. The defaults make a well-behaved server."""
    answer: bool = True              # answer message 65 at all
    silent_requests: int = 0         # leave the first k requests unanswered
    acknowledge: bool = True         # acknowledge reliable datagrams
    reliable_answer: bool = True     # send the answer reliably (resent until acknowledged)
    resend_interval_ms: int = 1000
    retries: int = 5
    answer_delay_ms: int = 0         # wait this long before answering
    drop_outgoing: Sequence[int] = ()  # indexes (0-based) of data datagrams sent to drop
    duplicate: bool = False          # every data datagram goes out twice
    reorder: bool = False            # the datagrams of one message go out in reverse order
    truncate_to: Optional[int] = None  # cut the answer's body to this many bytes
    declared_count: Optional[int] = None  # server count written regardless of the list
    cipher_seed: Optional[int] = None     # fixed packet seed (None: drawn from the time)
    corrupt_checksum: bool = False   # answer with a checksum that does not match


@dataclasses.dataclass
class Received:
    """One datagram as it arrived."""
    time: float
    sender: Tuple[str, int]
    data: bytes

    @property
    def header(self) -> Optional[DatagramHeader]:
        return DatagramHeader.unpack(self.data) if len(self.data) >= HEADER_SIZE else None


@dataclasses.dataclass
class Request:
    """A complete message delivered by the link (after duplicate filtering)."""
    time: float
    sender: Tuple[str, int]
    body: bytes
    checksum_ok: bool

    @property
    def ident(self) -> Optional[int]:
        return struct.unpack_from(">h", self.body)[0] if len(self.body) >= 2 else None


class GamePeer:
    """A game server on 127.0.0.1 that answers message 65.

        with GamePeer(version=5, servers=[("127.0.0.1", 11679)]) as peer:
            ... run the updater against peer.port ...
            assert len(peer.requests) == 1
    """

    def __init__(self, version: int = 1, servers: Sequence[Tuple[str, int]] = (),
                 behaviour: Optional[Behaviour] = None, host: str = "127.0.0.1",
                 port: int = 0):
        self.version = version
        self.servers = list(servers)
        self.behaviour = behaviour or Behaviour()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((host, port))
        self.address = self.sock.getsockname()
        self.lock = threading.Lock()
        self.received: List[Received] = []   # every datagram, as it came
        self.requests: List[Request] = []    # every delivered message
        self.sent: List[Tuple[float, Tuple[str, int], bytes]] = []
        self._next_sequence = 0
        self._data_sent = 0                  # data datagrams handed to the wire (for drops)
        self._awaiting = {}                  # (sender, sequence) -> [datagram, due, retries]
        self._history = {}                   # sender -> recent sequences, newest last
        self._reassembly = {}                # (sender, message id) -> state
        self._timers: list = []              # (due, n, callable)
        self._timer_ids = itertools.count()
        self._answered = 0
        self._running = False
        self._thread: Optional[threading.Thread] = None

    @property
    def port(self) -> int:
        return self.address[1]

    # -- lifecycle

    def start(self) -> "GamePeer":
        self._running = True
        self._thread = threading.Thread(target=self._serve, name="game-peer", daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        self._running = False
        if self._thread:
            self._thread.join(timeout=2)
        self.sock.close()

    def __enter__(self) -> "GamePeer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    # -- what tests look at

    def server_list_requests(self) -> List[Request]:
        with self.lock:
            return [r for r in self.requests if r.ident == SERVER_LIST_ID]

    def wait_for_requests(self, count: int, timeout: float = 10.0) -> bool:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if len(self.server_list_requests()) >= count:
                return True
            time.sleep(0.01)
        return False

    def unacknowledged(self) -> int:
        with self.lock:
            return len(self._awaiting)

    def send_message(self, to: Tuple[str, int], body: bytes, reliable: bool = True) -> None:
        """Sends one enciphered message (from the service thread's point of
        view any time is fine: the lock keeps the state consistent)."""
        with self.lock:
            self._send_message(to, encipher(body, self.behaviour.cipher_seed), reliable)

    # -- the service thread

    def _serve(self) -> None:
        while self._running:
            timeout = self._run_due_timers()
            try:
                readable, _, _ = select.select([self.sock], [], [], timeout)
            except (OSError, ValueError):
                return
            if readable:
                try:
                    data, sender = self.sock.recvfrom(65536)
                except OSError:
                    continue
                with self.lock:
                    self._on_datagram(data, sender)

    def _run_due_timers(self) -> float:
        now = time.monotonic()
        with self.lock:
            self._resend_due(now)
            while self._timers and self._timers[0][0] <= now:
                _, _, action = heapq.heappop(self._timers)
                action()
            wait = 0.01
            if self._timers:
                wait = min(wait, max(0.0, self._timers[0][0] - now))
            return wait

    def _after(self, delay_s: float, action) -> None:
        heapq.heappush(self._timers, (time.monotonic() + delay_s, next(self._timer_ids), action))

    # -- receiving (under self.lock)

    def _on_datagram(self, data: bytes, sender: Tuple[str, int]) -> None:
        self.received.append(Received(time.monotonic(), sender, data))
        if len(data) < HEADER_SIZE:
            return
        header = DatagramHeader.unpack(data)
        if header.flags & ACK_FLAG:
            self._awaiting.pop((sender, header.sequence), None)
            return
        if header.flags & RELIABLE_FLAG and self.behaviour.acknowledge:
            self._wire(sender, ack_datagram(header.sequence))
        history = self._history.setdefault(sender, [])
        if header.sequence in history:
            return
        history.append(header.sequence)
        del history[:-HISTORY_SIZE]
        if header.flags & FRAGMENT_FLAG:
            self._on_fragment(header, data[HEADER_SIZE:], sender)
        else:
            self._deliver(sender, data[HEADER_SIZE:])

    def _on_fragment(self, header: DatagramHeader, piece: bytes, sender) -> None:
        total_payload = header.total_length - HEADER_SIZE
        offset = header.fragment_index * FRAGMENT_PAYLOAD
        if total_payload < 0 or offset + len(piece) > total_payload:
            return  # would write past the message: a damaged sender
        key = (sender, header.message_id)
        now = time.monotonic()
        state = self._reassembly.get(key)
        if state is None or now > state["expires"]:
            state = {"data": bytearray(total_payload), "seen": set(),
                     "expires": now + REASSEMBLY_EXPIRY_S,
                     "count": total_payload // FRAGMENT_PAYLOAD + 1}
            self._reassembly[key] = state
        state["data"][offset:offset + len(piece)] = piece
        state["seen"].add(header.fragment_index)
        if len(state["seen"]) == state["count"]:
            del self._reassembly[key]
            self._deliver(sender, bytes(state["data"]))

    def _deliver(self, sender, packet: bytes) -> None:
        body, ok = decipher(packet)
        request = Request(time.monotonic(), sender, body, ok)
        self.requests.append(request)
        if request.ident != SERVER_LIST_ID or not self.behaviour.answer:
            return
        self._answered += 1
        if self._answered <= self.behaviour.silent_requests:
            return
        delay = self.behaviour.answer_delay_ms / 1000.0
        if delay > 0:
            self._after(delay, lambda: self._send_answer(sender))
        else:
            self._send_answer(sender)

    # -- sending (under self.lock)

    def _send_answer(self, to) -> None:
        b = self.behaviour
        body = answer_body(self.version, self.servers, b.declared_count)
        if b.truncate_to is not None:
            body = body[:b.truncate_to]
        packet = bytearray(encipher(body, b.cipher_seed))
        if b.corrupt_checksum:
            packet[2] ^= 0x01
        self._send_message(to, bytes(packet), b.reliable_answer)

    def _send_message(self, to, payload: bytes, reliable: bool) -> None:
        datagrams = message_datagrams(payload, self._next_sequence, reliable)
        self._next_sequence += len(datagrams)
        if self.behaviour.reorder:
            datagrams = list(reversed(datagrams))
        for datagram in datagrams:
            if reliable:
                sequence = DatagramHeader.unpack(datagram).sequence
                due = time.monotonic() + self.behaviour.resend_interval_ms / 1000.0
                self._awaiting[(to, sequence)] = [datagram, due, self.behaviour.retries]
            self._send_data(to, datagram)

    def _resend_due(self, now: float) -> None:
        for key, entry in list(self._awaiting.items()):
            datagram, due, retries = entry
            if due > now:
                continue
            if retries <= 0:
                del self._awaiting[key]  # given up silently, as the link does
                continue
            entry[1] = now + self.behaviour.resend_interval_ms / 1000.0
            entry[2] = retries - 1
            self._send_data(key[0], datagram)

    def _send_data(self, to, datagram: bytes) -> None:
        index = self._data_sent
        self._data_sent += 1
        if index in self.behaviour.drop_outgoing:
            return
        self._wire(to, datagram)
        if self.behaviour.duplicate:
            self._wire(to, datagram)

    def _wire(self, to, datagram: bytes) -> None:
        self.sent.append((time.monotonic(), to, datagram))
        try:
            self.sock.sendto(datagram, to)
        except OSError:
            pass  # a lost datagram, as UDP allows


class LinkClient:
    """The client side of the link, for checking the peer without the
    updater: sends message 65 reliably, acknowledges and reassembles what
    comes back. Used by the peer's own tests."""

    def __init__(self, server: Tuple[str, int]):
        self.server = server
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.05)
        self.sequence = 0
        self.acks: List[int] = []
        self.datagrams: List[bytes] = []
        self._seen = set()
        self._pieces = {}

    def close(self) -> None:
        self.sock.close()

    def send(self, payload: bytes, reliable: bool = True) -> List[bytes]:
        datagrams = message_datagrams(payload, self.sequence, reliable)
        self.sequence += len(datagrams)
        for d in datagrams:
            self.sock.sendto(d, self.server)
        return datagrams

    def receive_messages(self, timeout: float = 2.0, want: int = 1) -> List[bytes]:
        """Complete messages (deciphered bodies are left to the caller)."""
        messages = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and len(messages) < want:
            try:
                data, _ = self.sock.recvfrom(65536)
            except socket.timeout:
                continue
            self.datagrams.append(data)
            header = DatagramHeader.unpack(data)
            if header.flags & ACK_FLAG:
                self.acks.append(header.sequence)
                continue
            if header.flags & RELIABLE_FLAG:
                self.sock.sendto(ack_datagram(header.sequence), self.server)
            if header.sequence in self._seen:
                continue
            self._seen.add(header.sequence)
            if header.flags & FRAGMENT_FLAG:
                pieces = self._pieces.setdefault(header.message_id, {})
                pieces[header.fragment_index] = data[HEADER_SIZE:]
                if len(pieces) == (header.total_length - HEADER_SIZE) // FRAGMENT_PAYLOAD + 1:
                    messages.append(b"".join(pieces[i] for i in sorted(pieces)))
                    del self._pieces[header.message_id]
            else:
                messages.append(data[HEADER_SIZE:])
        return messages
