"""Whole updates: the game peer announces a version and the patch servers,
patch peers serve (and misbehave on command), PATCHW32.dll applies files
made by mkpatch; the tests read the exit code, the message boxes, the
registry, the tree on disk and what the demo's opener saw started."""

import shutil
import socket
import subprocess
import time

import pytest

import wine_harness
from peers.patch_peer import Patch, Plan
from update_kit import DOWNGRADE_LIMIT, KEY, KEYED_LIBRARY, NEXT_KEY, ROTATION_LIBRARY, SILENT, \
    TEST_KEY, TEXTS, game_tree, make_install, make_patch, native_build_dir, point_at_game_server, \
    read_tree, recorded_lines, recorder_exe, run_updater, windows_path, write_language_txt, \
    write_security_chk, write_tree

POSTPONE, STATUS, PROXY_EDIT, CONNECT = 1007, 1008, 1014, 1
CONNECTING = "Mirelands Auto Patch"


def step(patches, version, signed=False):
    return Patch(version + 1, f"{version}to{version + 1}.rtp",
                 patches.patch(version, version + 1, signed).read_bytes())


def chain(patches, first, last):
    return {v: step(patches, v) for v in range(first, last)}


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def update(prefix, robot, tmp_path, installed, game, extra=None):
    """Runs the updater in silent mode on the install (made at `installed`
    unless there); (install, exit code, box texts, "Version")."""
    install_dir = tmp_path / "install"
    if not install_dir.exists():
        make_install(install_dir, installed)
    point_at_game_server(prefix, game.port, extra)
    program, boxes = run_updater(prefix, robot, install_dir)
    return install_dir, program.returncode, boxes, prefix.reg_values(KEY).get("Version")


@pytest.mark.parametrize("refused_at", [None, 3])
def test_an_update_in_several_steps(prefix, robot, peers, patches, tmp_path, refused_at):
    plans = [Plan(), Plan(), Plan(kind="refuse_request")] if refused_at else []
    server = peers.patch(chain(patches, 1, 4), plans)
    other = peers.patch({})
    game = peers.game(4, [server.address, other.address])

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    # A refusal after the version request ends the run: no fallback.
    reached = refused_at or 4
    assert (code, boxes, version, other.connections) == (1, [], reached, 0)
    assert server.requests == [1, 2, 3] and server.offsets == [0] * (reached - 1)
    assert read_tree(install_dir) == game_tree(reached)
    # The release notes open once, after the step that reaches the server's version.
    opened = recorded_lines(prefix.log, wait=0 if refused_at else 5)
    assert [line.endswith('\\install\\Release.Txt"') for line in opened] == \
        ([] if refused_at else [True])


def test_a_data_file_is_taken_whole_and_a_patch_program_takes_over(prefix, robot, peers,
                                                                    tmp_path):
    data = b"replacement data " * 300
    server = peers.patch({1: Patch(2, "Notes.TXT", data),
                          2: Patch(3, "2to3.exe", recorder_exe().read_bytes())})
    game = peers.game(3, [server.address])
    install_dir = make_install(tmp_path / "install", 1)
    (install_dir / "Notes.TXT").write_bytes(b"an older copy, not to be resumed")

    _, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version) == (234, [], 3)
    assert (install_dir / "Notes.TXT").read_bytes() == data and server.offsets == [0, 0]
    started = recorded_lines(prefix.log, wait=5)
    assert started == ['"2to3.exe"']


def test_rejected_files_are_fetched_again_three_times_at_most(prefix, robot, peers, patches,
                                                             tmp_path):
    # With a PATCHW32.dll that trusts one key. Steps 1 and 2: patches signed
    # by that key, the first after a program, which the keyed install refuses.
    # Step 3: a good but unsigned patch, which the library rejects every time.
    server = peers.patch({1: [Patch(2, "1to2.exe", b"MZ, not a program"),
                              step(patches, 1, signed=True)],
                          2: step(patches, 2, signed=True), 3: step(patches, 3)})
    game = peers.game(4, [server.address])
    make_install(tmp_path / "install", 1, library=wine_harness.build_file(KEYED_LIBRARY))

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version) == (234, [], 3)
    assert server.served == ["1to2.exe", "1to2.rtp", "2to3.rtp"] + ["3to4.rtp"] * 3
    assert server.offsets == [0] * 6  # a rejected file is deleted, not resumed
    assert read_tree(install_dir) == game_tree(3)


def test_a_signed_release_replaces_the_running_updater_and_moves_players_to_a_new_key(
        prefix, robot, peers, tmp_path):
    # The install's library trusts the test key. Release 2, signed with it,
    # brings a new updater and a library that trusts the next key too;
    # release 3 is signed with the next key alone, which only the new
    # library accepts, and it applies in the same run.
    updater = wine_harness.updater_exe().read_bytes()
    old_library, new_library = (wine_harness.build_file(name).read_bytes()
                                for name in (KEYED_LIBRARY, ROTATION_LIBRARY))
    new_updater = updater + b"\0release 2"  # the same program in another file
    trees = {1: {**game_tree(1), "MirelandsUpdate.exe": updater, "PATCHW32.dll": old_library}}
    for version in (2, 3):
        trees[version] = {**game_tree(version), "MirelandsUpdate.exe": new_updater,
                          "PATCHW32.dll": new_library}
    releases = {version: Patch(version + 1, f"{version}to{version + 1}.rtp",
                               make_patch(tmp_path / f"r{version}", trees[version],
                                          trees[version + 1], key))
                for version, key in ((1, TEST_KEY), (2, NEXT_KEY))}
    server = peers.patch(releases)
    game = peers.game(3, [server.address])
    make_install(tmp_path / "install", 1, library=wine_harness.build_file(KEYED_LIBRARY))

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version, server.served) == (1, [], 3, ["1to2.rtp", "2to3.rtp"])
    assert read_tree(install_dir) == game_tree(3)
    assert (install_dir / "MirelandsUpdate.exe").read_bytes() == new_updater
    assert (install_dir / "PATCHW32.dll").read_bytes() == new_library
    # The updater that ran waits to be removed; the next run is the new one.
    assert (install_dir / "MirelandsUpdate.exe.mrlpatch-gone").read_bytes() == updater

    _, code, boxes, version = update(prefix, robot, tmp_path, 3, game)

    assert (code, boxes, version) == (232, [], 3)
    assert sorted(p.name for p in install_dir.rglob("*mrlpatch*")) == []
    assert (install_dir / "MirelandsUpdate.exe").read_bytes() == new_updater


@pytest.mark.parametrize("name", ["1to2.exe", "Notes.TXT"])
def test_a_keyed_install_refuses_served_programs_and_data_files(prefix, robot, peers, tmp_path,
                                                                name):
    # Only a signed patch may change a keyed install: the file is neither
    # started nor written, and the third refusal in a row ends the run. A
    # file of that name that the player has stays as it was (the server's
    # bytes are not appended to it, nor is it deleted).
    server = peers.patch({1: Patch(2, name, recorder_exe().read_bytes())})
    game = peers.game(2, [server.address])
    install_dir = make_install(tmp_path / "install", 1,
                               library=wine_harness.build_file(KEYED_LIBRARY))
    (install_dir / name).write_bytes(b"the player's own")

    _, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version, server.served) == (234, [], 1, [name] * 3)
    assert server.offsets == [0] * 3
    assert (install_dir / name).read_bytes() == b"the player's own"
    assert read_tree(install_dir) == game_tree(1)
    assert recorded_lines(prefix.log, wait=2) == []


def test_a_download_cut_by_the_server_resumes_on_the_next_run(prefix, robot, peers, patches,
                                                             tmp_path):
    patch = step(patches, 1)
    cut = len(patch.data) // 3
    server = peers.patch({1: patch}, [Plan(close_after=cut)])
    game = peers.game(2, [server.address])

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)
    assert (code, boxes, version) == (233, [TEXTS[85]], 1)
    assert (install_dir / patch.name).read_bytes() == patch.data[:cut]

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)
    assert (code, boxes, version) == (1, [], 2)
    assert server.offsets == [0, cut]
    assert read_tree(install_dir) == game_tree(2)


def test_postpone_ends_the_run_and_the_next_run_resumes(prefix, robot, peers, patches, tmp_path):
    patch = step(patches, 1)
    held = len(patch.data) // 2
    server = peers.patch({1: patch}, [Plan(hold_after=held)])
    game = peers.game(2, [server.address])
    install_dir = make_install(tmp_path / "install", 1)
    point_at_game_server(prefix, game.port)

    program = prefix.start(install_dir / "MirelandsUpdate.exe", SILENT,
                           cwd=install_dir)
    dialog, _ = robot.wait(CONNECTING, control=POSTPONE)  # not the searching dialog
    assert robot.text(dialog, POSTPONE) == TEXTS[183]
    # Neither Escape nor the close box leaves the connecting dialog.
    assert robot.ask("escape", dialog) == robot.ask("close", dialog) == []
    assert not robot.gone(dialog, timeout=1)
    partial, deadline = install_dir / patch.name, time.monotonic() + 20
    while not partial.exists() or partial.stat().st_size < held:
        assert program.poll() is None and time.monotonic() < deadline
        time.sleep(0.05)
    assert robot.click(dialog, POSTPONE)
    assert (robot.dismiss_boxes(program), program.wait()) == ([], 234)

    _, code, boxes, version = update(prefix, robot, tmp_path, 1, game)
    assert (code, boxes, version) == (1, [], 2)
    assert server.offsets == [0, held]


@pytest.fixture
def small_drive(prefix, tmp_path):
    """D: on a 1 MiB tmpfs."""
    drive = tmp_path / "small"
    drive.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(drive)]).returncode:
        pytest.skip("mounting a small drive needs root")
    try:
        (prefix.path / "dosdevices" / "d:").unlink(missing_ok=True)
        (prefix.path / "dosdevices" / "d:").symlink_to(drive)
        yield drive
    finally:
        prefix.stop_server()  # no program of the prefix keeps the drive busy
        subprocess.run(["umount", "--lazy", str(drive)], check=True)


def test_too_little_room_shows_text_183_until_postponed(prefix, robot, peers, small_drive):
    # The install is on D:, the updater runs from Z: (it does not fit on D:).
    write_tree(small_drive, game_tree(1))
    write_security_chk(small_drive, [])
    write_language_txt(small_drive)
    size = shutil.disk_usage(small_drive).free * 3 // 4  # room for it, not for 1.5 times it
    server = peers.patch({1: Patch(2, "1to2.rtp", bytes(size))})
    point_at_game_server(prefix, peers.game(2, [server.address]).port)
    files = {p: p.is_file() and p.read_bytes() for p in small_drive.rglob("*")}

    program = prefix.start(wine_harness.updater_exe(), SILENT, cwd=small_drive)
    # The header mostly comes before the dialog opens: it must show the text anyway.
    dialog, _ = robot.wait(CONNECTING, control=POSTPONE)
    deadline = time.monotonic() + 5
    while robot.text(dialog, STATUS) != TEXTS[183]:
        assert time.monotonic() < deadline, robot.text(dialog, STATUS)
        time.sleep(0.05)
    assert robot.click(dialog, POSTPONE)
    assert (robot.dismiss_boxes(program), program.wait()) == ([], 234)
    assert (server.requests, server.offsets) == ([1], [])  # no resume offset sent
    assert {p: p.is_file() and p.read_bytes() for p in small_drive.rglob("*")} == files


def test_refusals_fall_back_to_the_alternatives_in_order(prefix, robot, peers, patches,
                                                         tmp_path):
    serving, unused = peers.patch(chain(patches, 1, 2)), peers.patch({})
    full = peers.patch({}, [Plan("refuse", 2, [serving.address, unused.address])])
    no_patch = peers.patch({}, [Plan("refuse", 1, [("127.0.0.1", closed_port()), full.address])])
    game = peers.game(2, [no_patch.address])

    install_dir, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version) == (1, [], 2)
    assert [p.connections for p in (no_patch, full, serving, unused)] == [1, 1, 1, 0]
    assert read_tree(install_dir) == game_tree(2)


@pytest.mark.parametrize("listed, refusals, exit_code", [
    ("server", 11, 1), ("server", 12, 233), ("nothing", 0, 233), ("closed ports", 0, 233)])
def test_eleven_fallbacks_are_allowed_and_no_server_ends_with_233(prefix, robot, peers, patches,
                                                                  tmp_path, listed, refusals,
                                                                  exit_code):
    server = peers.patch(chain(patches, 1, 2), [Plan("refuse")] * refusals)
    game = peers.game(2, {"server": [server.address] * 16, "nothing": [],
                          "closed ports": [("127.0.0.1", closed_port())] * 3}[listed])

    _, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version) == ((1, [], 2) if exit_code == 1 else (233, [TEXTS[85]], 1))
    # The first connection, then one per fallback; the twelfth ends the run.
    assert server.connections == (refusals + 1 if listed == "server" else 0)


def test_the_proxy_takes_the_first_connection_only_on_port_11679(prefix, robot, peers, patches,
                                                                 tmp_path):
    proxy_host, proxy = peers.on_fixed_port(peers.patch, 11679, chain(patches, 1, 2))
    listed = peers.patch(chain(patches, 2, 3))
    game = peers.game(3, [listed.address])
    install_dir = make_install(tmp_path / "install", 1)
    point_at_game_server(prefix, game.port, {"Proxy": 1})

    program = prefix.start(install_dir / "MirelandsUpdate.exe", [], cwd=install_dir)
    dialog, _ = robot.wait("Mirelands")
    assert robot.ask("settext", dialog, PROXY_EDIT, proxy_host) == []  # no port
    assert robot.click(dialog, CONNECT)

    assert (robot.dismiss_boxes(program), program.wait()) == ([], 1)
    assert (proxy.requests, listed.requests) == ([1], [2])


def place_downgrades(patches, install_dir, steps, program):
    for version in steps:
        name = f"{version}to{version - 1}"
        if version == program:
            shutil.copy2(recorder_exe(), install_dir / f"{name}.exe")
        else:
            shutil.copy2(patches.patch(version, version - 1), install_dir / f"{name}.rtp")


@pytest.mark.parametrize("installed, server, files, program, exit_code, boxes, reached", [
    (12, 10, [12, 11], None, 1, [], 10),
    (12, 10, [12], None, 234, [TEXTS[94] % 10], 11),  # 11to10.rtp missing
    (12, 10, [12, 11], 12, 234, [], 11),  # 12to11.exe takes over
    (7, 2, [7, 6, 5, 4, 3], None, 240, [DOWNGRADE_LIMIT], 2),
    (7, 1, [7, 6, 5, 4, 3, 2], None, 240, [DOWNGRADE_LIMIT], 2),  # five steps a run
])
def test_downgrades_from_local_files(prefix, robot, peers, patches, tmp_path, installed, server,
                                     files, program, exit_code, boxes, reached):
    install_dir = make_install(tmp_path / "install", installed)
    place_downgrades(patches, install_dir, files, program)
    game = peers.game(server)

    _, code, shown, version = update(prefix, robot, tmp_path, installed, game)

    assert (code, shown, version) == (exit_code, boxes, reached)
    started = recorded_lines(prefix.log, wait=5 if program else 0)
    assert [f"{program}to{program - 1}.exe" in line for line in started] == \
        ([True] if program else [])  # and downgrades never open the release notes
    if not program:
        assert read_tree(install_dir) == game_tree(reached)


def test_an_update_with_the_32_bit_build(prefix, robot, peers, patches, tmp_path):
    try:
        updater = wine_harness.build_file("src/MirelandsUpdate.exe", "windows-x86")
        library = wine_harness.build_file("bin/PATCHW32.dll", "windows-x86")
    except FileNotFoundError as missing:
        pytest.skip(str(missing))
    server = peers.patch(chain(patches, 1, 2))
    game = peers.game(2, [server.address])
    install_dir = make_install(tmp_path / "install", 1, updater, library)
    prefix.loader = "wine"  # the WoW64 part of Wine (wine32:i386)

    _, code, boxes, version = update(prefix, robot, tmp_path, 1, game)

    assert (code, boxes, version) == (1, [], 2)
    assert read_tree(install_dir) == game_tree(2)


def test_mkpatch_exe_writes_what_the_native_mkpatch_writes(prefix, tmp_path):
    # Two x86-64 programs sharing the patch library's code, cut to 1 MiB:
    # the address prediction and the matching both come into play.
    old, new = (wine_harness.build_file(f"bin/{name}").read_bytes()[:1 << 20]
                for name in ("PATCHW32.dll", "mkpatch.exe"))
    trees = [write_tree(tmp_path / name, {"Game.EXE": data, "Data/Same.dat": bytes(5000)})
             for name, data in (("old", old), ("new", new))]
    native = tmp_path / "native.rtp"
    subprocess.run([native_build_dir() / "bin" / "mkpatch", "--quiet", *trees, native],
                   check=True)
    made = tmp_path / "windows.rtp"
    args = ["--quiet", *map(windows_path, (*trees, made))]
    assert prefix.start(wine_harness.build_file("bin/mkpatch.exe"), args).wait(120) == 0
    assert made.read_bytes() == native.read_bytes()
