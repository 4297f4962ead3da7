"""A patch server for the functional tests, written from the exchange as it
goes over TCP (every integer big-endian): a greeting byte; the client's
version (4 bytes); a patch header (target version 4, file size 4, name
length 2, name) or a refusal (4 zero bytes, reason 1, count 2, then per
alternative server its port 2, host length 2, host); the client's resume
offset (4); the file from that offset on."""

import socket
import struct
import threading
from dataclasses import dataclass, field


@dataclass
class Patch:
    target: int
    name: str
    data: bytes


@dataclass
class Plan:
    """What one connection gets. kind: "serve"; "refuse" (in place of the
    greeting); "refuse_request" (greet, then refuse the version request)."""
    kind: str = "serve"
    reason: int = 1
    alternatives: list = field(default_factory=list)  # [(host, port)]
    close_after: int = None  # close after this many bytes of the file
    hold_after: int = None  # send nothing more after this many bytes


def refusal(reason, alternatives):
    out = struct.pack(">IBH", 0, reason, len(alternatives))
    for host, port in alternatives:
        out += struct.pack(">HH", port, len(host)) + host.encode()
    return out


class PatchPeer:
    """Serves `catalogue` {installed version: Patch, or [Patch, ...] handed
    out one per request, the last one for good}; connection k follows
    plans[k], later ones the default Plan."""

    def __init__(self, catalogue, plans=(), host="127.0.0.1", port=0):
        self.catalogue = {v: p if isinstance(p, list) else [p] for v, p in catalogue.items()}
        self.plans = list(plans)
        self.listener = socket.create_server((host, port))
        self.port = self.listener.getsockname()[1]
        self.address = (host, self.port)
        self.connections = 0
        self.requests, self.offsets, self.served = [], [], []
        threading.Thread(target=self._accept, daemon=True).start()

    def stop(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            plan = self.plans[self.connections] if self.connections < len(self.plans) else Plan()
            self.connections += 1
            threading.Thread(target=self._serve, args=(conn, plan), daemon=True).start()

    def _serve(self, conn, plan):
        with conn:
            try:
                self._exchange(conn, plan)
                # The client stops reading before it closes: wait for that.
                conn.settimeout(20)
                while conn.recv(4096):
                    pass
            except OSError:
                pass

    def _exchange(self, conn, plan):
        if plan.kind == "refuse":
            return conn.sendall(refusal(plan.reason, plan.alternatives))
        conn.sendall(b"\x01")
        version = struct.unpack(">I", _read(conn, 4))[0]
        self.requests.append(version)
        patches = self.catalogue.get(version)
        if plan.kind == "refuse_request" or not patches:
            return conn.sendall(refusal(plan.reason, plan.alternatives))
        patch = patches.pop(0) if len(patches) > 1 else patches[0]
        self.served.append(patch.name)
        name = patch.name.encode()
        conn.sendall(struct.pack(">IIH", patch.target, len(patch.data), len(name)) + name)
        offset = struct.unpack(">I", _read(conn, 4))[0]
        self.offsets.append(offset)
        cut = plan.close_after if plan.close_after is not None else plan.hold_after
        conn.sendall(patch.data[offset:][:cut])
        if plan.close_after is not None:
            conn.shutdown(socket.SHUT_RDWR)


def _read(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise OSError("closed")
        data += chunk
    return data
