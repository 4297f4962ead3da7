"""The reference patch server against a client written here from the wire
format of the patch-server exchange (big-endian, no framing), not from our
C++: greeting, version request, header or refusal, resume offset, file data.
Needs the native build (build/native/tools/patch_server/patch_server)."""

import os
import socket
import struct
import subprocess
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SERVER = ROOT / "build" / "native" / "tools" / "patch_server" / "patch_server"

pytestmark = pytest.mark.skipif(not SERVER.exists(), reason="native build missing")


def recv_exact(sock, n, timeout=5.0):
    sock.settimeout(timeout)
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    return data


def read_refusal(sock):
    head = recv_exact(sock, 7)
    version, reason, count = struct.unpack(">IBH", head)
    servers = []
    for _ in range(count):
        port, length = struct.unpack(">HH", recv_exact(sock, 4))
        servers.append((port, recv_exact(sock, length).decode()))
    return version, reason, servers


@pytest.fixture
def server(tmp_path):
    catalogue = tmp_path / "catalogue"
    catalogue.mkdir()
    (catalogue / "p7to8.rtp").write_bytes(bytes((i * 13 + 5) % 256 for i in range(30000)))
    (catalogue / "p8to9.rtp").write_bytes(b"second step")
    (catalogue / "manifest.txt").write_text("# from to file\n7 8 p7to8.rtp\n\n8 9 p8to9.rtp\n")
    process = subprocess.Popen(
        [str(SERVER), "--catalogue", str(catalogue), "--port", "0", "--max-clients", "2",
         "--alternative", "alt.example:11680", "--alternative", "10.1.2.3:7"],
        stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    assert line.startswith("listening on 127.0.0.1:"), line
    port = int(line.split(":")[1].split()[0])
    yield port, catalogue, process
    process.terminate()
    process.wait(timeout=5)


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=5)


def test_header_then_file_from_the_resume_offset(server):
    port, catalogue, process = server
    with connect(port) as sock:
        assert len(recv_exact(sock, 1)) == 1  # greeting
        sock.sendall(struct.pack(">I", 7))
        target, size, length = struct.unpack(">IIH", recv_exact(sock, 10))
        assert (target, size) == (8, 30000)
        assert recv_exact(sock, length) == b"p7to8.rtp"
        sock.sendall(struct.pack(">I", 1234))
        data = recv_exact(sock, size - 1234)
    assert data == (catalogue / "p7to8.rtp").read_bytes()[1234:]
    assert "p7to8.rtp from 1234, 28766 bytes sent" in process.stdout.readline()


def test_offset_at_the_end_sends_nothing(server):
    port, _, _ = server
    with connect(port) as sock:
        recv_exact(sock, 1)
        sock.sendall(struct.pack(">I", 8))
        _, size, length = struct.unpack(">IIH", recv_exact(sock, 10))
        recv_exact(sock, length)
        sock.sendall(struct.pack(">I", size))
        # Nothing follows, and the server keeps the connection for the
        # client to close.
        with pytest.raises(TimeoutError):
            recv_exact(sock, 1, timeout=0.3)


def test_unknown_version_is_refused_with_reason_1_and_the_alternatives(server):
    port, _, _ = server
    with connect(port) as sock:
        recv_exact(sock, 1)
        sock.sendall(struct.pack(">I", 3))
        assert read_refusal(sock) == (0, 1, [(11680, "alt.example"), (7, "10.1.2.3")])


def test_a_full_server_refuses_with_reason_2_instead_of_greeting(server):
    port, _, _ = server
    first, second = connect(port), connect(port)
    try:
        recv_exact(first, 1)
        recv_exact(second, 1)
        with connect(port) as third:
            assert read_refusal(third) == (0, 2, [(11680, "alt.example"), (7, "10.1.2.3")])
        first.close()
        time.sleep(0.2)  # the place is free again
        with connect(port) as fourth:
            assert len(recv_exact(fourth, 1)) == 1
            fourth.sendall(struct.pack(">I", 8))
            assert recv_exact(fourth, 10)[:4] == struct.pack(">I", 9)
    finally:
        first.close()
        second.close()


def test_request_split_over_several_sends(server):
    port, _, _ = server
    with connect(port) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        recv_exact(sock, 1)
        for byte in struct.pack(">I", 8):
            sock.sendall(bytes([byte]))
            time.sleep(0.02)
        assert recv_exact(sock, 10)[:4] == struct.pack(">I", 9)


def test_bad_manifest_is_refused_at_start(tmp_path):
    (tmp_path / "manifest.txt").write_text("7 8 ../escape.rtp\n")
    result = subprocess.run([str(SERVER), "--catalogue", str(tmp_path), "--port", "0"],
                            capture_output=True, text=True, timeout=10)
    assert result.returncode == 1
    assert "plain file name" in result.stderr


def test_help_describes_the_manifest():
    result = subprocess.run([str(SERVER), "--help"], capture_output=True, text=True, timeout=10)
    assert result.returncode == 0
    assert "FROM TO FILE" in result.stdout
