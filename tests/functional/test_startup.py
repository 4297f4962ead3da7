"""The start of a run: the refusal to run beside another updater or the game,
the install check, the registry bootstrap, the version copy and the first
datagram on the wire, up to the end of an up-to-date run."""

import struct

import pytest

from peers.game_peer import encipher
from update_kit import KEY, TEXTS, make_install, run_updater, windows_path, write_language_txt, \
    write_security_chk, write_server_list

MISSING = "Your file %s is missing.\r\n"


@pytest.mark.parametrize("window_class", ["PatchMEClass", "AppClass", None])
def test_nothing_is_done_beside_another_updater_or_the_game_or_without_security_chk(
        prefix, robot, tmp_path, window_class):
    install_dir = make_install(tmp_path / "install", 5)
    write_language_txt(install_dir, {**TEXTS, 187: "Cannot find %s."})
    (install_dir / "Security.Chk").unlink()
    if window_class:
        assert robot.ask("hold", window_class) is not None

    program, boxes = run_updater(prefix, robot, install_dir)

    # Beside the other program not even the missing list is reported.
    assert (program.returncode, boxes) == (0, [] if window_class else ["Cannot find Security.Chk."])
    assert prefix.reg_values(KEY) is None


def test_a_fresh_profile_up_to_date(prefix, robot, peers, tmp_path):
    game = peers.game(37)
    install_dir = make_install(tmp_path / "install", 37)
    # The first run draws the only listed server: nothing is in the registry yet.
    write_server_list(install_dir, [("Local", f"127.0.0.1:{game.port}")])
    (install_dir / "Big.dat").write_bytes(b"0123456789")
    (install_dir / "Empty.dat").write_bytes(b"")
    write_security_chk(install_dir, [
        ("Game.EXE", (install_dir / "Game.EXE").stat().st_size),
        ("Big.dat", " 7 bytes\r\n"),  # quoted as read, line end included
        ("Empty.dat", 4),  # empty: reported missing
        ("Gone.dat", 3),
        ("NeverThere.dat", 0),  # expected 0: in order
    ])
    warnings = [TEXTS[187] % ("Big.dat", "Big.dat", 10, " 7 bytes\r\n"), MISSING % "Empty.dat",
                MISSING % "Gone.dat"]

    program, boxes = run_updater(prefix, robot, install_dir)

    assert (program.returncode, boxes) == (232, warnings)
    values = prefix.reg_values(KEY)
    assert (values["Version"], values["Path"], values["AccountName"], values["Macro12:12b"]) == \
        (37, windows_path(install_dir), "Guest", 0)
    assert len(values) == 298 + 2  # the defaults, "Version" and the address asked ("MRLServerIP2")
    # The first datagram: sequence 0, reliable, message 65 enciphered with a
    # seed of 0 to 512.
    first = game.datagrams[0][1]
    seed = struct.unpack_from("<H", first, 12)[0]
    assert seed <= 512 and first == struct.pack("<BBHII", 0, 2, 18, 0, 0) + encipher(
        b"\x00\x41", seed)

    # A later run keeps the player's settings and writes only the version.
    prefix.reg_add(KEY, "Music", 0)
    prefix.reg_add(KEY, "Path", r"C:\Elsewhere")
    (install_dir / "Version.Txt").write_bytes(b"38\r\n")
    game.version = 38
    program, boxes = run_updater(prefix, robot, install_dir)
    assert (program.returncode, boxes) == (232, warnings)
    assert prefix.reg_values(KEY) == {**values, "Music": 0, "Path": r"C:\Elsewhere", "Version": 38}
