"""The game-server peer against the byte-exact examples of the wire formats,
and over loopback against a small client. Runs without Wine:

    /usr/bin/python3 -m pytest tests/functional/peers -q
"""
import struct
import time

import pytest

from game_peer import (ACK_FLAG, FRAGMENT_FLAG, RELIABLE_FLAG, Behaviour, DatagramHeader,
                       GamePeer, LinkClient, RandomGenerator, ack_datagram, answer_body,
                       decipher, encipher, message_datagrams, parse_answer, request_body)


# -- generator and cipher

def draws(low, high, seed, n):
    g = RandomGenerator(low, high, seed)
    return [g.next() for _ in range(n)]


def test_generator_streams():
    assert draws(0, 255, 0, 6) == [1, 146, 179, 100, 165, 118]
    assert draws(0, 255, 1, 6) == [146, 179, 100, 165, 118, 215]
    assert draws(0, 255, 512, 6) == draws(0, 255, 0, 6)
    assert draws(0, 512, 0, 3) == [1, 250, 115]
    # An empty range (high + 1 wraps to low) always yields low.
    assert draws(0, 0xFFFFFFFF, 5, 3) == [0, 0, 0]


def test_message_65_enciphered_with_seed_1():
    packet = encipher(request_body(), seed=1)
    assert packet == bytes.fromhex("01 00 41 00 92 F2")
    assert decipher(packet) == (b"\x00\x41", True)


def test_a_changed_byte_fails_the_checksum_but_is_still_unscrambled():
    packet = bytearray(encipher(b"\x00\x41\x10\x20", seed=7))
    packet[5] ^= 0x40
    body, ok = decipher(bytes(packet))
    assert not ok
    assert body == b"\x00\x01\x10\x20"


def test_checksum_wraps_and_ignores_order():
    assert encipher(b"\x01\x02", seed=0)[2:4] == encipher(b"\x02\x01", seed=0)[2:4] == b"\x03\x00"
    assert encipher(b"\xff" * 256, seed=0)[2:4] == struct.pack("<H", 65280)
    assert encipher(b"\xff" * 258, seed=0)[2:4] == struct.pack("<H", 254)


def test_answer_layout_is_big_endian_with_signed_name_lengths():
    body = answer_body(0x01020304, [("ab", 11679)])
    assert body == bytes.fromhex("0041 01020304 0001 2D9F 0002") + b"ab"
    assert parse_answer(body) == (0x01020304, [("ab", 11679)])
    with pytest.raises(ValueError):
        parse_answer(body[:-1])
    # A count above 32767 is written unsigned.
    assert answer_body(1, [], declared_count=40000)[6:8] == bytes.fromhex("9C40")


# -- datagram headers

def test_reliable_header_and_its_acknowledgement():
    [datagram] = message_datagrams(bytes(10), 7, reliable=True)
    assert datagram[:12] == bytes.fromhex("00 02 16 00 07 00 00 00 00 00 00 00")
    assert len(datagram) == 22
    assert ack_datagram(7) == bytes.fromhex("00 01 00 00 07 00 00 00 00 00 00 00")


def test_fragment_sizes_and_headers():
    assert len(message_datagrams(bytes(1012), 0, True)) == 1
    two = message_datagrams(bytes(1013), 40, True)
    assert [len(d) for d in two] == [1024, 13]
    assert two[1][:12] == bytes.fromhex("01 06 01 04 29 00 00 00 28 00 00 00")
    assert [len(d) - 12 for d in message_datagrams(bytes(2024), 0, False)] == [1012, 1012, 0]
    assert [len(d) - 12 for d in message_datagrams(bytes(3035), 0, False)] == [1012, 1012, 1011]
    assert len(message_datagrams(bytes(65523), 0, True)) == 65
    with pytest.raises(ValueError):
        message_datagrams(bytes(65524), 0, True)


# -- over loopback

@pytest.fixture
def client_for():
    clients = []

    def make(peer):
        client = LinkClient(peer.address)
        clients.append(client)
        return client
    yield make
    for c in clients:
        c.close()


def answer_of(message):
    body, ok = decipher(message)
    assert ok
    return parse_answer(body)


def test_answers_message_65_and_acknowledges_the_request(client_for):
    servers = [("patch.example", 11679), ("10.0.0.2", 2000)]
    with GamePeer(version=7, servers=servers) as peer:
        client = client_for(peer)
        [request] = client.send(encipher(request_body(), seed=3))
        [answer] = client.receive_messages()
        assert answer_of(answer) == (7, servers)
        assert DatagramHeader.unpack(request).sequence in client.acks
        assert peer.wait_for_requests(1)
        assert peer.server_list_requests()[0].checksum_ok
        assert peer.received[0].data == request
        time.sleep(0.05)
        assert peer.unacknowledged() == 0  # our acknowledgement reached it


def test_duplicates_are_acknowledged_again_but_delivered_once(client_for):
    with GamePeer(version=1) as peer:
        client = client_for(peer)
        [request] = client.send(encipher(request_body(), seed=3))
        client.sock.sendto(request, peer.address)
        client.receive_messages(timeout=0.5, want=99)
        assert client.acks.count(0) == 2
        assert len(peer.server_list_requests()) == 1


def test_long_answer_is_fragmented_and_reassembled_in_any_order(client_for):
    servers = [("host-%03d.example" % i, 20000 + i) for i in range(120)]
    with GamePeer(version=9, servers=servers, behaviour=Behaviour(reorder=True)) as peer:
        client = client_for(peer)
        client.send(encipher(request_body(), seed=3))
        [answer] = client.receive_messages()
        assert answer_of(answer) == (9, servers)
        fragments = [DatagramHeader.unpack(d) for d in client.datagrams
                     if DatagramHeader.unpack(d).flags & FRAGMENT_FLAG]
        assert len(fragments) > 1
        assert fragments[0].fragment_index == len(fragments) - 1  # reversed
        assert all(f.flags == FRAGMENT_FLAG | RELIABLE_FLAG for f in fragments)
        assert {f.message_id for f in fragments} == {min(f.sequence for f in fragments)}


def test_fragmented_request_is_reassembled(client_for):
    with GamePeer(version=2) as peer:
        client = client_for(peer)
        big = encipher(request_body() + bytes(1500), seed=5)
        sent = client.send(big)
        assert len(sent) == 2
        client.receive_messages()
        assert peer.wait_for_requests(1)
        assert peer.server_list_requests()[0].body == request_body() + bytes(1500)


def test_silent_requests_and_resends_of_a_dropped_answer(client_for):
    behaviour = Behaviour(silent_requests=1, drop_outgoing=[0], resend_interval_ms=100)
    with GamePeer(version=3, behaviour=behaviour) as peer:
        client = client_for(peer)
        client.send(encipher(request_body(), seed=1))
        assert client.receive_messages(timeout=0.3) == []  # first request unanswered
        client.send(encipher(request_body(), seed=1))
        # The first transmission of the answer is dropped; the resend arrives.
        [answer] = client.receive_messages(timeout=2)
        assert answer_of(answer) == (3, [])
        assert len(peer.server_list_requests()) == 2


def test_misbehaviours_shape_the_answer(client_for):
    cases = [
        (Behaviour(truncate_to=9), lambda body, ok: ok and len(body) == 9),
        (Behaviour(declared_count=40000), lambda body, ok: body[6:8] == b"\x9c\x40"),
        (Behaviour(corrupt_checksum=True), lambda body, ok: not ok),
        (Behaviour(reliable_answer=False), lambda body, ok: ok),
    ]
    for behaviour, check in cases:
        with GamePeer(version=4, servers=[("a", 1)], behaviour=behaviour) as peer:
            client = client_for(peer)
            client.send(encipher(request_body(), seed=1))
            [answer] = client.receive_messages()
            assert check(*decipher(answer)), behaviour
            flags = DatagramHeader.unpack(client.datagrams[-1]).flags
            assert bool(flags & RELIABLE_FLAG) == behaviour.reliable_answer


def test_duplicate_and_delay(client_for):
    with GamePeer(version=5, behaviour=Behaviour(duplicate=True, answer_delay_ms=200)) as peer:
        client = client_for(peer)
        start = time.monotonic()
        client.send(encipher(request_body(), seed=1))
        messages = client.receive_messages(timeout=1.0, want=2)
        assert len(messages) == 1  # the copy is filtered by its sequence number
        assert time.monotonic() - start >= 0.2
        data = [d for d in client.datagrams if not DatagramHeader.unpack(d).flags & ACK_FLAG]
        assert len(data) == 2 and data[0] == data[1]


def test_short_datagrams_are_recorded_and_ignored():
    with GamePeer() as peer:
        probe = LinkClient(peer.address)
        try:
            probe.sock.sendto(b"\x00" * 11, peer.address)
            deadline = time.monotonic() + 1
            while not peer.received and time.monotonic() < deadline:
                time.sleep(0.01)
            assert peer.received[0].data == b"\x00" * 11
            assert peer.received[0].header is None
            assert peer.requests == []
        finally:
            probe.close()
