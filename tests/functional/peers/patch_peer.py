"""A scriptable patch server for the functional tests.

Written from the patch-server exchange as it goes over the wire, without
any of the updater's code: a greeting byte, the client's 4-byte version,
then a patch header (target version, file size, name length, name) or a
refusal (zero, reason, alternatives), the client's 4-byte resume offset and
the file's bytes from that offset. Every integer is big-endian.

Each accepted connection takes the next behaviour from `plans` (or the
default behaviour once the list is used up), so a test can make the first
connection refuse and the second serve, or close in the middle of a file.
A catalogue entry may be a list of patches for one version: each request
for that version takes the first of them until one is left, so a test can
serve a damaged file first and the good one when it is asked again.
"""

import socket
import struct
import threading
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple, Union


@dataclass
class Patch:
    target: int
    name: str
    data: bytes


@dataclass
class Plan:
    # "serve": greet, answer from the catalogue, stream the file.
    # "refuse_now": a refusal in place of the greeting.
    # "refuse_after_request": greet, then refuse the version request.
    # "silent_close": close without a word.
    kind: str = "serve"
    reason: int = 1
    alternatives: List[Tuple[str, int]] = field(default_factory=list)
    close_after: Optional[int] = None  # "serve": close after this many file bytes
    hold_after: Optional[int] = None   # "serve": stop sending after this many file bytes
    split_answer: bool = False         # "serve": the header in two writes
    extra_bytes: bytes = b""           # "serve": sent after the file


def refusal(reason: int, alternatives: List[Tuple[str, int]]) -> bytes:
    out = struct.pack(">IBH", 0, reason, len(alternatives))
    for host, port in alternatives:
        raw = host.encode("latin-1")
        out += struct.pack(">HH", port, len(raw)) + raw
    return out


def header(patch: Patch) -> bytes:
    raw = patch.name.encode("latin-1")
    return struct.pack(">IIH", patch.target, len(patch.data), len(raw)) + raw


def recv_exact(conn: socket.socket, count: int) -> Optional[bytes]:
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


class PatchPeer:
    def __init__(self, catalogue: Dict[int, Union[Patch, List[Patch]]], plans: Optional[List[Plan]] = None,
                 default: Optional[Plan] = None, port: int = 0):
        self.catalogue = catalogue
        self.plans = list(plans or [])
        self.default = default or Plan()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.connections = 0
        self.requests: List[int] = []        # versions asked for, in order
        self.resume_offsets: List[int] = []  # offsets received, in order
        self.served: List[str] = []          # names of the headers sent, in order
        self.bytes_sent = 0                  # file bytes written to clients
        self.stopping = False
        self.thread = threading.Thread(target=self._accept_loop, daemon=True)
        self.thread.start()

    def close(self):
        self.stopping = True
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
        except OSError:
            pass
        self.listener.close()

    def _next_plan(self) -> Plan:
        with self.lock:
            self.connections += 1
            return self.plans.pop(0) if self.plans else self.default

    def _accept_loop(self):
        while not self.stopping:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            if self.stopping:
                conn.close()
                return
            threading.Thread(target=self._serve, args=(conn, self._next_plan()), daemon=True).start()

    def _serve(self, conn: socket.socket, plan: Plan):
        try:
            conn.settimeout(30)
            if plan.kind == "silent_close":
                return
            if plan.kind == "refuse_now":
                conn.sendall(refusal(plan.reason, plan.alternatives))
                self._linger(conn)
                return
            conn.sendall(b"\x01")
            raw = recv_exact(conn, 4)
            if raw is None:
                return
            version = struct.unpack(">I", raw)[0]
            with self.lock:
                self.requests.append(version)
            patch = self._patch_for(version)
            if plan.kind == "refuse_after_request" or patch is None:
                conn.sendall(refusal(plan.reason if patch else 1, plan.alternatives))
                self._linger(conn)
                return
            with self.lock:
                self.served.append(patch.name)
            answer = header(patch)
            if plan.split_answer:
                conn.sendall(answer[:5])
                time.sleep(0.2)
                conn.sendall(answer[5:])
            else:
                conn.sendall(answer)
            raw = recv_exact(conn, 4)
            if raw is None:
                return
            offset = struct.unpack(">I", raw)[0]
            with self.lock:
                self.resume_offsets.append(offset)
            body = patch.data[offset:]
            if plan.close_after is not None:
                self._send(conn, body[:plan.close_after])
                time.sleep(0.3)
                return
            if plan.hold_after is not None:
                self._send(conn, body[:plan.hold_after])
                self._linger(conn)
                return
            for start in range(0, len(body), 16384):
                self._send(conn, body[start:start + 16384])
            if plan.extra_bytes:
                conn.sendall(plan.extra_bytes)
            self._linger(conn)
        except OSError:
            pass
        finally:
            conn.close()

    def _patch_for(self, version: int) -> Optional[Patch]:
        with self.lock:
            entry = self.catalogue.get(version)
            if isinstance(entry, list):
                return entry.pop(0) if len(entry) > 1 else (entry[0] if entry else None)
            return entry

    def _send(self, conn: socket.socket, data: bytes):
        conn.sendall(data)
        with self.lock:
            self.bytes_sent += len(data)

    @staticmethod
    def _linger(conn: socket.socket, seconds: float = 15):
        # The client must stop reading before the server closes; keep the
        # connection open until the client closes it (or a time-out).
        try:
            conn.settimeout(seconds)
            while conn.recv(4096):
                pass
        except OSError:
            pass
