"""The reference game server (tools/game_server), native, asked by the
Python client of the game link that was written from the wire formats: the
version question answered (also when the list needs fragments), other and
damaged messages ignored, the answer resent until acknowledged, the log, the
options and a clean stop. No Wine needed."""

import os
import re
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(Path(__file__).resolve().parent / "peers"))

from game_peer import (ACK_FLAG, FRAGMENT_FLAG, RELIABLE_FLAG, DatagramHeader,  # noqa: E402
                       LinkClient, decipher, encipher, parse_answer, request_body)


def game_server_exe():
    build = Path(os.environ.get("MRL_NATIVE_BUILD", ROOT / "build" / "native"))
    path = build / "tools" / "game_server" / "game_server"
    if not path.exists():
        raise FileNotFoundError(f"{path} is missing: build the native preset first")
    return path


class RunningServer:
    """game_server on a free loopback port; its stdout collected line by line."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([str(game_server_exe()), "--port", "0", *args],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        match = re.match(r"listening on 127\.0\.0\.1:(\d+), announcing (.*)$", first)
        assert match, f"unexpected first line {first!r}"
        self.port = int(match.group(1))
        self.announcing = match.group(2)

    @property
    def address(self):
        return ("127.0.0.1", self.port)

    def stop(self, sig=signal.SIGTERM):
        """Stops it with a signal; (exit code, the rest of its stdout)."""
        self.proc.send_signal(sig)
        out, _ = self.proc.communicate(timeout=10)
        return self.proc.returncode, out.splitlines()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


@pytest.fixture
def start_server():
    started = []

    def start(*args):
        server = RunningServer(*args)
        started.append(server)
        return server

    yield start
    for server in started:
        server.kill()


@pytest.fixture
def client_for():
    clients = []

    def make(server):
        client = LinkClient(server.address)
        clients.append(client)
        return client

    yield make
    for client in clients:
        client.close()


def ask(client, body=None, seed=3):
    return client.send(encipher(request_body() if body is None else body, seed))


def test_answers_the_version_question_with_the_configured_list(start_server, client_for):
    server = start_server("--version", "4294967295", "--patch-server", "patch1.example.net:11679",
                          "--patch-server", "127.0.0.1:65535")
    assert server.announcing == ("version 4294967295, 2 patch servers: "
                                 "patch1.example.net:11679 127.0.0.1:65535")
    client = client_for(server)
    sent = ask(client)

    messages = client.receive_messages(timeout=3)
    assert len(messages) == 1
    body, ok = decipher(messages[0])
    assert ok
    assert parse_answer(body) == (4294967295, [("patch1.example.net", 11679), ("127.0.0.1", 65535)])
    assert DatagramHeader.unpack(sent[0]).sequence in client.acks

    code, lines = server.stop()
    assert code == 0
    client_port = client.sock.getsockname()[1]
    assert re.fullmatch(
        r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ 127\.0\.0\.1:%d message 65 answered: version "
        r"4294967295, 2 patch servers: patch1\.example\.net:11679 127\.0\.0\.1:65535" % client_port,
        lines[0]), lines
    assert lines[-1] == "stopping after 1 answers"


def test_a_long_list_from_the_config_file_travels_in_fragments(start_server, client_for, tmp_path):
    hosts = [(f"patch-{i:02d}.{'x' * 60}.example", 11000 + i) for i in range(40)]
    config = tmp_path / "game_server.conf"
    config.write_text("# forty patch servers\nversion 77\n" +
                      "".join(f"patch-server {h}:{p}\n" for h, p in hosts))
    server = start_server("--config", str(config))
    client = client_for(server)
    ask(client)

    messages = client.receive_messages(timeout=3)
    assert len(messages) == 1
    fragments = [d for d in client.datagrams if DatagramHeader.unpack(d).flags & FRAGMENT_FLAG]
    assert len(fragments) == len(messages[0]) // 1012 + 1 >= 3
    body, ok = decipher(messages[0])
    assert ok and parse_answer(body) == (77, hosts)
    server.stop(signal.SIGINT)


def test_other_and_damaged_messages_get_only_acknowledgements(start_server, client_for):
    server = start_server("--version", "5")
    client = client_for(server)
    damaged = bytearray(encipher(request_body(), 11))
    damaged[5] ^= 0x40
    client.send(bytes(damaged))
    ask(client, body=b"\x00\x42")
    ask(client, body=b"\x41\x00")  # 65 in the wrong byte order
    client.send(b"\x00\x41")       # no cipher header: too short for a message

    assert client.receive_messages(timeout=0.6) == []
    assert sorted(client.acks) == [0, 1, 2, 3]

    ask(client)  # still answers afterwards
    assert len(client.receive_messages(timeout=3)) == 1
    code, lines = server.stop()
    notes = [line.split(" ", 2)[2] for line in lines[:-1]]
    assert notes == ["ignored: bad checksum", "ignored: message 66", "ignored: message 16640",
                     "ignored: 2 bytes, too short for a message",
                     "message 65 answered: version 5, 0 patch servers"]


def test_the_answer_is_resent_until_acknowledged(start_server):
    server = start_server("--version", "9")
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.bind(("127.0.0.1", 0))
        sock.settimeout(0.1)
        payload = encipher(request_body(), 1)
        sock.sendto(DatagramHeader(0, RELIABLE_FLAG, len(payload) + 12, 40, 0).pack() + payload,
                    server.address)
        answers = []
        deadline = time.monotonic() + 1.6
        while time.monotonic() < deadline:
            try:
                data, _ = sock.recvfrom(2048)
            except socket.timeout:
                continue
            if not DatagramHeader.unpack(data).flags & ACK_FLAG:
                answers.append((time.monotonic(), data))
        # Never acknowledged: sent again a second later, the same datagram.
        assert len(answers) == 2
        assert answers[0][1] == answers[1][1]
        assert DatagramHeader.unpack(answers[0][1]).flags == RELIABLE_FLAG
        assert 0.8 < answers[1][0] - answers[0][0] < 1.4
        sock.sendto(DatagramHeader(0, ACK_FLAG, 0,
                                   DatagramHeader.unpack(answers[0][1]).sequence, 0).pack(),
                    server.address)
        sock.settimeout(1.3)
        with pytest.raises(socket.timeout):
            while True:  # nothing but the end of resends from now on
                data, _ = sock.recvfrom(2048)
                assert DatagramHeader.unpack(data).flags & ACK_FLAG
    finally:
        sock.close()
    assert server.stop()[0] == 0


@pytest.mark.parametrize("args, problem", [
    ([], "no version given"),
    (["--version", "1", "--patch-server", "host-without-port"], "not HOST:PORT"),
    (["--version", "1", "--patch-server", "h" * 100 + ":1"], "1 to 99 visible characters"),
    (["--version", "x"], "bad option or value: --version x"),
])
def test_bad_options_end_with_exit_2_and_a_reason(args, problem):
    proc = subprocess.run([str(game_server_exe()), *args], capture_output=True, text=True,
                          timeout=10)
    assert proc.returncode == 2
    assert problem in proc.stderr
    assert proc.stdout == ""


def test_help_and_a_port_already_taken():
    proc = subprocess.run([str(game_server_exe()), "--help"], capture_output=True, text=True,
                          timeout=10)
    assert proc.returncode == 0 and "--patch-server H:P" in proc.stdout
    taken = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        proc = subprocess.run([str(game_server_exe()), "--version", "1", "--port", str(port)],
                              capture_output=True, text=True, timeout=10)
        assert proc.returncode == 1
        assert f"cannot listen on 127.0.0.1:{port}" in proc.stderr
    finally:
        taken.close()
