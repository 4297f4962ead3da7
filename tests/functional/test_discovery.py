"""Server discovery on the real MirelandsUpdate.exe under Wine, against the
Python game server written from the wire formats: the version question and
its answer, the choice of the game server, the attempts when the server is
silent, and answers that are empty, cut short or oversized."""

import random
import socket
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent / "peers"))

import install  # noqa: E402
from game_peer import (RELIABLE_FLAG, Behaviour, DatagramHeader,  # noqa: E402
                       GamePeer, answer_body, decipher, encipher)

KEY = r"HKCU\Software\Corvane\MRL"
SILENT = ("Amber", "Kite")
EXIT_UP_TO_DATE = 232
EXIT_GIVEN_UP = 234
EXIT_NO_PATCH_SERVER = 233
INSTALLED = 12
ERROR_CAPTION = "Error Message"
SERVER_DIALOG = "Mirelands"
CONNECT = 1
COMBO = 1009
TEXT_51 = install.SAMPLE_TEXTS[51]
# A host label over 63 characters fails in the resolver before any query
# leaves the machine: the game link cannot be opened.
UNRESOLVABLE = "n" + "x" * 70


def free_loopback_address(port):
    """A 127.x.y.z address on which `port` is free (the default port may be
    taken by another program on 127.0.0.1)."""
    for _ in range(50):
        host = f"127.{random.randint(1, 254)}.{random.randint(1, 254)}.{random.randint(2, 254)}"
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind((host, port))
            return host
        except OSError:
            continue
        finally:
            probe.close()
    pytest.skip(f"no loopback address with UDP port {port} free")


class ScriptedPeer(GamePeer):
    """A game server whose k-th answer (0-based) can be replaced by a
    scripted body: answers[k] is the plain body to encipher, or None for the
    configured answer."""

    def __init__(self, *args, answers=(), **kwargs):
        super().__init__(*args, **kwargs)
        self.script = list(answers)
        self.answers_sent = 0

    def _send_answer(self, to):
        index = self.answers_sent
        self.answers_sent += 1
        if index < len(self.script) and self.script[index] is not None:
            self._send_message(to, encipher(self.script[index]), True)
        else:
            super()._send_answer(to)


@pytest.fixture
def peers():
    started = []

    def start(peer):
        started.append(peer)
        return peer.start()

    yield start
    for peer in started:
        peer.stop()


def one_server_install(install_dir, address, name="Testshard", version=INSTALLED):
    install.make_sample_install(install_dir, version=version)
    install.write_server_list(install_dir, [dict(name=name, address=address,
                                                 description="The test shard.")])


def run_silent(updater, timeout=40):
    return updater.run(SILENT, timeout=timeout)


def run_silent_answering_boxes(updater, robot, timeout=40):
    """Runs in silent mode, pressing OK on every error box (a run that goes
    wrong ends with one instead of hanging); (result, [(caption, text)])."""
    program = updater.start(SILENT)
    try:
        boxes = robot.dismiss_boxes(program, caption=ERROR_CAPTION, timeout=timeout)
        return program.wait(), boxes
    finally:
        program.kill()


def first_datagrams(peer):
    """The first datagram of each request (resends of a datagram keep its
    sequence number), in the order they came."""
    seen, firsts = set(), []
    for received in list(peer.received):
        header = received.header
        if header is None or header.flags & 0x01 or header.sequence in seen:
            continue
        seen.add(header.sequence)
        firsts.append(received)
    return firsts


# ------------------------------------------------------------ up to date

def test_up_to_date_after_one_request_as_the_wire_format_says(wine, updater, install_dir, peers):
    peer = peers(GamePeer(version=INSTALLED, servers=[("127.0.0.1", 11679)]))
    address = f"127.0.0.1:{peer.port}"
    one_server_install(install_dir, address)

    result = run_silent(updater)

    assert result.returncode == EXIT_UP_TO_DATE, result
    requests = peer.server_list_requests()
    assert len(requests) == 1
    first = peer.received[0].data
    header = DatagramHeader.unpack(first)
    assert (header.fragment_index, header.flags, header.sequence, header.message_id) == \
        (0, RELIABLE_FLAG, 0, 0)
    assert header.total_length == len(first) == 12 + 6
    seed = first[12] | first[13] << 8
    assert 0 <= seed <= 512
    assert decipher(first[12:]) == (b"\x00\x41", True)
    assert "Case 65\r\n" in result.debug
    assert "Nombre de Server [1]\r\n" in result.debug
    assert f"Update [{INSTALLED}] Current [{INSTALLED}]\r\n" in result.debug
    values = wine.reg_values(KEY)
    # Silent mode shows no dialog, so the choice is not stored; the address
    # used always is.
    assert "MRLServerIP" not in values
    assert values["MRLServerIP2"] == address


# ------------------------------------------------------------ no answer

def test_sixteen_requests_then_the_dialog_again_even_in_silent_mode(wine, updater, install_dir,
                                                                    robot, peers):
    # The peer stays silent for 16 requests and answers the 17th: the
    # attempt after the error box succeeds.
    peer = peers(GamePeer(version=INSTALLED, behaviour=Behaviour(silent_requests=16)))
    address = f"127.0.0.1:{peer.port}"
    one_server_install(install_dir, address)

    program = updater.start(SILENT)
    try:
        assert peer.wait_for_requests(2, timeout=20)
        assert robot.find("#32770", SERVER_DIALOG) is None, "silent mode shows no dialog first"
        box = robot.wait_window(caption=ERROR_CAPTION, timeout=40)
        assert box is not None, "no error box after 16 requests"
        assert robot.read_box(box) == (ERROR_CAPTION, TEXT_51)
        firsts = first_datagrams(peer)
        assert len(firsts) == 16
        gaps = [b.time - a.time for a, b in zip(firsts, firsts[1:])]
        assert all(0.9 < gap < 1.6 for gap in gaps), gaps
        robot.click(box, 1)

        dialog = robot.wait_window(caption=SERVER_DIALOG, timeout=15)
        assert dialog is not None, "the server selection dialog did not come back"
        assert robot.combo(dialog, COMBO)[0] == "Testshard"
        assert robot.click(dialog, CONNECT)
        result = program.wait(timeout=30)
    finally:
        program.kill()

    assert result.returncode == EXIT_UP_TO_DATE, result
    assert len(peer.server_list_requests()) == 17
    values = wine.reg_values(KEY)
    # The choice is written after the dialog shown on failure.
    assert values["MRLServerIP"] == "Testshard"
    assert values["MRLServerIP2"] == address


def assert_given_up_unasked(updater, robot, peer, timeout):
    """Runs the updater in silent mode with "Keeper's Word" set: box 51, exit
    234, and the peer never asked."""
    program = updater.start(SILENT)
    try:
        boxes = robot.dismiss_boxes(program, caption=ERROR_CAPTION, timeout=timeout)
        result = program.wait()
    finally:
        program.kill()
    assert result.returncode == EXIT_GIVEN_UP
    assert boxes == [(ERROR_CAPTION, TEXT_51)]
    assert peer.received == []


def test_keepers_word_ends_after_the_error_box(wine, updater, install_dir, robot, peers):
    peer = peers(GamePeer(version=INSTALLED))
    one_server_install(install_dir, f"127.0.0.1:{peer.port}")
    # A server that cannot be resolved: one request, the wait ends at once.
    wine.reg_add(KEY, "MRLServerIP", UNRESOLVABLE)
    wine.reg_add(KEY, "Keeper's Word", 1)

    assert_given_up_unasked(updater, robot, peer, timeout=30)
    assert wine.reg_values(KEY)["MRLServerIP2"] == UNRESOLVABLE


# ------------------------------------------------------------ choosing the server

def test_first_run_picks_a_listed_server_and_stores_the_choice(wine, updater, install_dir, robot,
                                                              peers):
    # Three listed servers, all reaching the peer at different addresses.
    peer = peers(GamePeer(version=INSTALLED, host="0.0.0.0"))
    servers = [dict(name=f"Shard {n}", address=f"127.0.0.{n}:{peer.port}") for n in (1, 2, 3)]
    install.make_sample_install(install_dir, version=INSTALLED)
    install.write_server_list(install_dir, servers)

    program = updater.start()
    try:
        dialog = robot.wait_window(caption=SERVER_DIALOG, timeout=20)
        assert dialog is not None
        chosen, listed = robot.combo(dialog, COMBO)
        assert sorted(listed) == ["Shard 1", "Shard 2", "Shard 3"]
        assert chosen in listed
        assert robot.click(dialog, CONNECT)
        result = program.wait(timeout=30)
    finally:
        program.kill()

    assert result.returncode == EXIT_UP_TO_DATE, result
    values = wine.reg_values(KEY)
    assert values["MRLServerIP"] == chosen
    assert values["MRLServerIP2"] == next(s["address"] for s in servers if s["name"] == chosen)
    assert values["Proxy"] == 0


def test_a_stored_address_is_kept_and_used_directly(wine, updater, install_dir, robot, peers):
    peer = peers(GamePeer(version=INSTALLED))
    one_server_install(install_dir, "127.0.0.1:1")  # the listed server is not the one used
    typed = f"127.0.0.1:{peer.port}"
    wine.reg_add(KEY, "MRLServerIP", typed)

    program = updater.start()
    try:
        dialog = robot.wait_window(caption=SERVER_DIALOG, timeout=20)
        assert dialog is not None
        assert robot.combo(dialog, COMBO) == (typed, ["Testshard"])
        assert robot.click(dialog, CONNECT)
        result = program.wait(timeout=30)
    finally:
        program.kill()

    assert result.returncode == EXIT_UP_TO_DATE, result
    assert len(peer.server_list_requests()) == 1
    values = wine.reg_values(KEY)
    assert values["MRLServerIP"] == typed
    assert values["MRLServerIP2"] == typed


def test_a_stored_empty_choice_is_kept(wine, updater, install_dir, robot, peers):
    # Empty is not "Not Found": no server is drawn from the list, so the
    # peer behind the only listed server is never asked.
    peer = peers(GamePeer(version=INSTALLED))
    one_server_install(install_dir, f"127.0.0.1:{peer.port}")
    wine.reg_add(KEY, "MRLServerIP", "")
    wine.reg_add(KEY, "Keeper's Word", 1)

    assert_given_up_unasked(updater, robot, peer, timeout=40)
    values = wine.reg_values(KEY)
    assert values["MRLServerIP"] == ""


@pytest.mark.parametrize("suffix", ["", ":", ":11677"], ids=["no-port", "empty-port", "port"])
def test_the_default_port_is_11677(wine, updater, install_dir, peers, suffix):
    host = free_loopback_address(11677)
    peer = peers(GamePeer(version=INSTALLED, host=host, port=11677))
    one_server_install(install_dir, host + suffix)

    result = run_silent(updater)

    assert result.returncode == EXIT_UP_TO_DATE, result
    assert len(peer.server_list_requests()) == 1
    assert wine.reg_values(KEY)["MRLServerIP2"] == host + suffix


# ------------------------------------------------------------ odd answers

def test_a_cut_answer_is_dropped_and_the_next_one_used(wine, updater, install_dir, robot, peers):
    # The cut answer announces a newer version and a patch server; if any of
    # it were taken the run would go on to patch instead of ending here.
    full = answer_body(INSTALLED + 5, [("127.0.0.1", 11679), ("127.0.0.1", 11680)])
    peer = peers(ScriptedPeer(version=INSTALLED, answers=[full[:-3]]))
    one_server_install(install_dir, f"127.0.0.1:{peer.port}")

    result, boxes = run_silent_answering_boxes(updater, robot)

    assert (result.returncode, boxes) == (EXIT_UP_TO_DATE, []), result
    assert len(peer.server_list_requests()) == 2
    assert "Answer too short, dropped\r\n" in result.debug
    assert f"Update [{INSTALLED}] Current [{INSTALLED}]\r\n" in result.debug


def test_a_count_above_32767_is_read_unsigned(wine, updater, install_dir, robot, peers):
    # Count 40000 read as a signed number would be negative: an empty list
    # and a newer version accepted. Read unsigned, the answer is far too
    # short for it and is dropped; the next answer decides.
    oversized = answer_body(INSTALLED + 1, [("127.0.0.1", 11679)], declared_count=40000)
    peer = peers(ScriptedPeer(version=INSTALLED, answers=[oversized]))
    one_server_install(install_dir, f"127.0.0.1:{peer.port}")

    result, boxes = run_silent_answering_boxes(updater, robot)

    assert (result.returncode, boxes) == (EXIT_UP_TO_DATE, []), result
    assert len(peer.server_list_requests()) == 2
    assert "Nombre de Server [40000]\r\n" in result.debug


def test_an_answer_without_patch_servers_when_patches_are_needed(wine, updater, install_dir,
                                                                 robot, peers):
    peer = peers(GamePeer(version=INSTALLED + 1, servers=[]))
    one_server_install(install_dir, f"127.0.0.1:{peer.port}")

    program = updater.start(SILENT)
    try:
        boxes = robot.dismiss_boxes(program, caption=ERROR_CAPTION, timeout=40)
        result = program.wait()
    finally:
        program.kill()

    assert result.returncode == EXIT_NO_PATCH_SERVER
    assert boxes == [(ERROR_CAPTION, install.SAMPLE_TEXTS[85])]
    assert len(peer.server_list_requests()) == 1
    assert "Nombre de Server [0]\r\n" in result.debug
    assert "No Server in list\r\n" in result.debug
