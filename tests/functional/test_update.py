"""A whole update on the real MirelandsUpdate.exe under Wine: the Python game
peer announces a version and the patch servers, Python patch peers serve
(and misbehave on command), PATCHW32.dll applies files made by mkpatch, and
the test reads the exit code, the error boxes, the registry, the tree on
disk and what the shell was asked to open."""

import shutil
import time

import pytest

import install
import wine_harness
from peers.game_peer import GamePeer
from peers.patch_peer import Patch, PatchPeer, Plan
from update_kit import (DOWNGRADE_LIMIT, KEY, SILENT, TEXT_85, TEXT_94, PatchMaker, game_tree,
                        make_install, point_at_game_server, read_tree, recorded_lines,
                        recorder_exe, register_txt_opener, run_updater, windows_path)

NORMAL_END, NO_PATCH_SERVER, NOT_PATCHED, DOWNGRADE_STOPPED = 1, 233, 234, 240
POSTPONE, CONNECT, PROXY_CHECK, PROXY_EDIT = 1007, 1, 1013, 1014
POSTPONE_TEXT = install.SAMPLE_TEXTS[183]  # the button's caption comes from the text table


# ---------------------------------------------------------------- fixtures

@pytest.fixture(scope="session")
def kit(tmp_path_factory):
    return tmp_path_factory.mktemp("update-kit")


@pytest.fixture(scope="session")
def patches(kit):
    return PatchMaker(kit / "patches")


@pytest.fixture(scope="session")
def update_template(wine_template, kit):
    """The test prefix with .txt files opening in recorder.exe."""
    opener = kit / "opener" / "recorder.exe"
    opener.parent.mkdir()
    shutil.copy2(recorder_exe(), opener)
    prefix = wine_harness.copy_prefix(wine_template, kit / "template")
    register_txt_opener(prefix, opener)
    return prefix.path


@pytest.fixture
def prefix(update_template, tmp_path, monkeypatch):
    log = tmp_path / "recorder.log"
    # Inherited by the updater, the shell's opener and every patch program.
    monkeypatch.setenv("MRL_RECORDER_LOG", windows_path(log))
    p = wine_harness.copy_prefix(update_template, tmp_path / "prefix")
    p.log = log
    yield p
    wine_harness.remove_prefix(p)


@pytest.fixture
def robot(prefix):
    with prefix.robot() as r:
        yield r


@pytest.fixture
def peers():
    """peers.patch(...) / peers.game(...) start peers closed after the test."""
    started = []

    class Peers:
        def patch(self, catalogue, plans=None, default=None):
            peer = PatchPeer(catalogue, plans, default)
            started.append(peer.close)
            return peer

        def game(self, version, servers):
            peer = GamePeer(version=version, servers=servers).start()
            started.append(peer.stop)
            return peer

    yield Peers()
    for stop in started:
        stop()


def closed_port():
    """A loopback port on which nothing listens."""
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def chain(patches, first, last, name="{a}to{b}.rtp"):
    """The catalogue of library patches from version first to last."""
    return {a: Patch(a + 1, name.format(a=a, b=a + 1), patches.patch(a, a + 1).read_bytes())
            for a in range(first, last)}


def here(peer):
    return ("127.0.0.1", peer.port)


def version_of(prefix):
    return prefix.reg_values(KEY).get("Version")


def update(prefix, robot, tmp_path, installed, game, extra=None):
    install_dir = tmp_path / "install"
    if not install_dir.exists():
        make_install(install_dir, installed)
    point_at_game_server(prefix, game.port, extra)
    result, boxes = run_updater(prefix, robot, install_dir)
    return install_dir, result, boxes


# ---------------------------------------------------------------- the ordinary update

@pytest.mark.parametrize("last_step_refused", [False, True], ids=["to-v4", "refused-at-v3"])
def test_multi_step_update(prefix, robot, peers, patches, tmp_path, last_step_refused):
    plans = [Plan(), Plan(), Plan(kind="refuse_after_request")] if last_step_refused else None
    server = peers.patch(chain(patches, 1, 4), plans)
    game = peers.game(4, [here(server)])

    install_dir, result, boxes = update(prefix, robot, tmp_path, 1, game)

    reached = 3 if last_step_refused else 4
    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert server.requests == [1, 2, 3]  # the installed version moved on with every step
    assert server.resume_offsets == [0, 0] + ([] if last_step_refused else [0])
    assert read_tree(install_dir) == game_tree(reached)
    assert version_of(prefix) == reached
    # The release notes open once, after the library step that reached the
    # server's version, and not at all when that step never came.
    opened = recorded_lines(prefix.log, wait=0 if last_step_refused else 5)
    if last_step_refused:
        assert opened == []
    else:
        assert len(opened) == 1 and opened[0].endswith('\\install\\Release.Txt"'), opened


# ---------------------------------------------------------------- kinds of file

PATCHING = "Currently patching"


def run_watching_patching_dialog(prefix, robot, install_dir):
    """Runs the updater; (result, patching dialog seen, seen to close)."""
    program = prefix.start(install_dir / "MirelandsUpdate.exe", SILENT, cwd=install_dir)
    seen = closed = False
    try:
        deadline = time.monotonic() + 60
        while program.running() and time.monotonic() < deadline:
            box = robot.wait_window(caption="Mirelands Auto Patch", timeout=0.2)
            if box is None:
                continue
            try:
                texts = [c.text for c in robot.controls(box)]
            except wine_harness.RobotError:
                continue  # gone between the two questions
            if any(t.startswith(PATCHING) for t in texts):
                seen = True
                closed = robot.wait_gone(box, timeout=10)
                break
        return program.wait(timeout=30), seen, closed
    finally:
        program.kill()


@pytest.mark.parametrize("name", ["Notes.TXT", "world.idx"])
def test_data_file_is_taken_whole_and_recorded(prefix, robot, peers, tmp_path, name):
    data = b"replacement data " * 300
    server = peers.patch({1: Patch(2, name, data)})
    game = peers.game(2, [here(server)])
    install_dir = make_install(tmp_path / "install", 1)
    (install_dir / name).write_bytes(b"an older copy that must not be resumed")
    point_at_game_server(prefix, game.port)

    result, dialog_seen, dialog_closed = run_watching_patching_dialog(prefix, robot, install_dir)

    assert result.returncode == NORMAL_END
    # A data file is taken with a pause of a second behind the patching
    # dialog. Whether the box is up within that second depends on how busy
    # the machine is (an End that comes first closes it as it opens), so
    # only this is certain: a patching dialog that was seen closed again.
    assert dialog_closed or not dialog_seen
    assert server.resume_offsets == [0]
    assert (install_dir / name).read_bytes() == data
    assert version_of(prefix) == 2
    assert recorded_lines(prefix.log, wait=1) == []  # no release notes after a data file


def test_patch_program_is_started_and_takes_over(prefix, robot, peers, patches, tmp_path):
    program = Patch(2, "1to2.exe", recorder_exe().read_bytes())
    server = peers.patch({1: program, **chain(patches, 2, 3)})
    game = peers.game(3, [here(server)])

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NOT_PATCHED, [])
    assert version_of(prefix) == 2
    assert server.requests == [1]
    ran = recorded_lines(prefix.log, wait=5)
    assert len(ran) == 1 and "1to2.exe" in ran[0], ran


def test_files_that_fail_are_fetched_again(prefix, robot, peers, patches, tmp_path):
    """A program that cannot start is not recorded and the same step is asked
    for again; a patch the library rejects twice is deleted and fetched anew
    from its first byte."""
    good = chain(patches, 1, 3)
    catalogue = {1: [Patch(2, "1to2.exe", b"MZ but not a program"), good[1]],
                 2: [Patch(3, "2to3.rtp", b"not a patch at all " * 50), good[2]]}
    server = peers.patch(catalogue)
    game = peers.game(3, [here(server)])

    install_dir, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert server.requests == [1, 1, 2, 2]
    assert server.served == ["1to2.exe", "1to2.rtp", "2to3.rtp", "2to3.rtp"]
    assert server.resume_offsets == [0, 0, 0, 0]
    assert read_tree(install_dir) == game_tree(3)
    assert version_of(prefix) == 3
    assert (install_dir / "2to3.rtp").read_bytes() == good[2].data


def test_a_step_that_keeps_failing_ends_the_run(prefix, robot, peers, patches, tmp_path):
    """A patch that cannot apply to this install (a damaged game file) is
    fetched three times, then the run ends instead of fetching it for ever."""
    server = peers.patch(chain(patches, 1, 2))
    game = peers.game(2, [here(server)])
    install_dir = make_install(tmp_path / "install", 1)
    (install_dir / "Data" / "World.dat").write_bytes(b"damaged by the player")

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NOT_PATCHED, [])
    assert server.requests == [1, 1, 1]
    assert version_of(prefix) == 1
    assert (install_dir / "Data" / "World.dat").read_bytes() == b"damaged by the player"


# ---------------------------------------------------------------- interrupted downloads

def test_download_cut_short_resumes_on_the_next_run(prefix, robot, peers, patches, tmp_path):
    patch = chain(patches, 1, 2)[1]
    cut = len(patch.data) // 3
    server = peers.patch({1: patch}, plans=[Plan(close_after=cut)])
    game = peers.game(2, [here(server)])

    install_dir, result, boxes = update(prefix, robot, tmp_path, 1, game)
    assert (result.returncode, boxes) == (NO_PATCH_SERVER, [TEXT_85])
    on_disk = (install_dir / patch.name).read_bytes()
    assert 0 < len(on_disk) <= cut and patch.data.startswith(on_disk)
    assert version_of(prefix) == 1  # (ends every program of the prefix, the robot too)

    with prefix.robot() as second_robot:
        _, result, boxes = update(prefix, second_robot, tmp_path, 1, game)
    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert server.resume_offsets == [0, len(on_disk)]
    assert (install_dir / patch.name).read_bytes() == patch.data
    assert read_tree(install_dir) == game_tree(2)
    assert version_of(prefix) == 2


def test_postpone_during_a_download_resumes_later(prefix, robot, peers, patches, tmp_path):
    patch = chain(patches, 1, 2)[1]
    held = len(patch.data) // 2
    server = peers.patch({1: patch}, plans=[Plan(hold_after=held)])
    game = peers.game(2, [here(server)])
    install_dir = make_install(tmp_path / "install", 1)
    point_at_game_server(prefix, game.port)

    program = prefix.start(install_dir / "MirelandsUpdate.exe", SILENT, cwd=install_dir)
    try:
        partial = install_dir / patch.name
        deadline = time.monotonic() + 30
        while not (partial.exists() and partial.stat().st_size == held):
            assert time.monotonic() < deadline, "the first half never arrived"
            time.sleep(0.1)
        dialog = robot.wait_window(caption="Mirelands Auto Patch", timeout=10)
        assert dialog is not None and robot.text(dialog, POSTPONE) == POSTPONE_TEXT
        robot.click(dialog, POSTPONE)
        result = program.wait(timeout=30)
    finally:
        program.kill()
    assert result.returncode == NOT_PATCHED
    assert partial.stat().st_size == held

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)
    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert server.resume_offsets == [0, held]
    assert read_tree(install_dir) == game_tree(2)


# ---------------------------------------------------------------- fallback

@pytest.mark.parametrize("reason", [1, 2, 3])
def test_refusal_after_connecting_falls_back_alternatives_included(
        prefix, robot, peers, patches, tmp_path, reason):
    serving = peers.patch(chain(patches, 1, 2))
    refusing = peers.patch({}, default=Plan(kind="refuse_now", reason=reason,
                                            alternatives=[here(serving)]))
    # Listed: the refusing server, then one that accepts no connection; the
    # refusal names the serving one, which is reached after the dead one.
    game = peers.game(2, [here(refusing), ("127.0.0.1", closed_port())])

    install_dir, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert (refusing.connections, serving.requests) == (1, [1])
    assert read_tree(install_dir) == game_tree(2)
    assert "Trying to find another Server\r\n" in result.debug


@pytest.mark.parametrize("refusals, exit_code", [(11, NORMAL_END), (12, NO_PATCH_SERVER)])
def test_eleven_fallbacks_are_allowed_not_twelve(prefix, robot, peers, patches, tmp_path,
                                                 refusals, exit_code):
    server = peers.patch(chain(patches, 1, 2), plans=[Plan(kind="refuse_now")] * refusals)
    game = peers.game(2, [here(server)] * 16)

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert result.returncode == exit_code
    assert boxes == ([] if exit_code == NORMAL_END else [TEXT_85])
    assert server.connections == refusals + 1  # the first connection, then one per fallback
    assert version_of(prefix) == (2 if exit_code == NORMAL_END else 1)


@pytest.mark.parametrize("listed", [0, 3], ids=["empty-list", "none-accepts"])
def test_no_patch_server_ends_with_233(prefix, robot, peers, tmp_path, listed):
    game = peers.game(2, [("127.0.0.1", closed_port()) for _ in range(listed)])

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NO_PATCH_SERVER, [TEXT_85])
    assert "No Server in list\r\n" in result.debug
    assert result.debug.count("Trying to connect on server ") == listed


def test_refusal_after_the_version_request_ends_the_run(prefix, robot, peers, patches, tmp_path):
    refusing = peers.patch({}, default=Plan(kind="refuse_after_request", reason=2))
    other = peers.patch(chain(patches, 1, 2))
    game = peers.game(2, [here(refusing), here(other)])

    _, result, boxes = update(prefix, robot, tmp_path, 1, game)

    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert (refusing.requests, other.connections) == ([1], 0)
    assert version_of(prefix) == 1


# ---------------------------------------------------------------- proxy

def choose_proxy(robot, proxy_address):
    """Fills the proxy address in the server selection dialog and connects."""
    dialog = robot.wait_window(caption="Mirelands", timeout=20)
    assert dialog is not None, "the server selection dialog did not appear"
    if robot.control(dialog, PROXY_CHECK).checked != 1:
        robot.click(dialog, PROXY_CHECK)
    robot.set_text(dialog, PROXY_EDIT, proxy_address)
    robot.click(dialog, CONNECT)


def run_with_proxy(prefix, robot, install_dir, game, proxy_address):
    point_at_game_server(prefix, game.port, {"Proxy": 1})
    program = prefix.start(install_dir / "MirelandsUpdate.exe", [], cwd=install_dir)
    try:
        choose_proxy(robot, proxy_address)
        boxes = robot.dismiss_boxes(program, caption="Error Message", timeout=60)
        return program.wait(), [text for _, text in boxes]
    finally:
        program.kill()


def test_proxy_for_the_first_connection_only(prefix, robot, peers, patches, tmp_path):
    steps = chain(patches, 1, 3)
    proxy = peers.patch({}, default=Plan(kind="refuse_now", reason=1))
    remembered = peers.patch({2: steps[2]})
    fallback = peers.patch({1: steps[1]})
    game = peers.game(3, [here(remembered), here(fallback)])
    install_dir = make_install(tmp_path / "install", 1)

    result, boxes = run_with_proxy(prefix, robot, install_dir, game, f"127.0.0.1:{proxy.port}")

    assert (result.returncode, boxes) == (NORMAL_END, [])
    # The proxy took the first attempt (for the first listed entry); its
    # refusal fell back directly to the next listed server, and the second
    # step went straight to the listed server of the first attempt.
    assert result.debug.count("LOGGIN ON PROXY!") == 1
    assert (proxy.connections, fallback.requests, remembered.requests) == (1, [1], [2])
    assert read_tree(install_dir) == game_tree(3)


def test_proxy_tried_once_per_listed_server(prefix, robot, peers, tmp_path):
    listed = [peers.patch({}) for _ in range(3)]
    game = peers.game(2, [here(p) for p in listed])
    install_dir = make_install(tmp_path / "install", 1)

    result, boxes = run_with_proxy(prefix, robot, install_dir, game,
                                   f"127.0.0.1:{closed_port()}")

    assert (result.returncode, boxes) == (NO_PATCH_SERVER, [TEXT_85])
    assert result.debug.count("LOGGIN ON PROXY!") == 3
    assert [p.connections for p in listed] == [0, 0, 0]


def test_proxy_without_port_uses_11679(prefix, robot, peers, patches, tmp_path):
    try:
        proxy = PatchPeer(chain(patches, 1, 2), port=11679)
    except OSError:
        pytest.skip("port 11679 is taken on this machine")
    try:
        listed = peers.patch({})
        game = peers.game(2, [here(listed)])
        install_dir = make_install(tmp_path / "install", 1)
        result, boxes = run_with_proxy(prefix, robot, install_dir, game, "127.0.0.1")
    finally:
        proxy.close()
    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert (proxy.requests, listed.connections) == ([1], 0)


def test_silent_mode_with_proxy_on_connects_directly(prefix, robot, peers, patches, tmp_path):
    server = peers.patch(chain(patches, 1, 2))
    game = peers.game(2, [here(server)])

    install_dir, result, boxes = update(prefix, robot, tmp_path, 1, game, {"Proxy": 1})

    assert (result.returncode, boxes) == (NORMAL_END, [])
    assert "LOGGIN ON PROXY!" not in result.debug
    assert server.requests == [1]
    assert read_tree(install_dir) == game_tree(2)


# ---------------------------------------------------------------- downgrade

def place_downgrades(patches, install_dir, steps, broken=(), programs=()):
    for a in steps:
        name = f"{a}to{a - 1}"
        if a in programs:
            shutil.copy2(recorder_exe(), install_dir / f"{name}.exe")
        elif a in broken:
            (install_dir / f"{name}.rtp").write_bytes(b"damaged downgrade file")
        else:
            shutil.copy2(patches.patch(a, a - 1), install_dir / f"{name}.rtp")


DOWNGRADES = {
    # id: installed, server, files (from-versions), broken, programs,
    #     exit code, boxes, recorded version
    "12-to-10": (12, 10, [12, 11], (), (), NORMAL_END, [], 10),
    "second-missing": (12, 10, [12], (), (), NOT_PATCHED, [TEXT_94 % 10], 11),
    "first-bad": (12, 10, [12, 11], (12,), (), NOT_PATCHED, [TEXT_94 % 10], 12),
    "program": (12, 10, [12, 11], (), (12,), NOT_PATCHED, [], 11),
    "five-steps": (7, 2, [7, 6, 5, 4, 3], (), (), DOWNGRADE_STOPPED, [DOWNGRADE_LIMIT], 2),
    "six-needed": (7, 1, [7, 6, 5, 4, 3, 2], (), (), DOWNGRADE_STOPPED, [DOWNGRADE_LIMIT], 2),
}


@pytest.mark.parametrize("case", list(DOWNGRADES))
def test_downgrade_from_local_files(prefix, robot, peers, patches, tmp_path, case):
    installed, target, steps, broken, programs, exit_code, expected_boxes, recorded = \
        DOWNGRADES[case]
    install_dir = make_install(tmp_path / "install", installed)
    place_downgrades(patches, install_dir, steps, broken, programs)
    game = peers.game(target, [])

    _, result, boxes = update(prefix, robot, tmp_path, installed, game)

    assert (result.returncode, boxes) == (exit_code, expected_boxes)
    assert version_of(prefix) == recorded
    if not programs:
        assert read_tree(install_dir) == game_tree(recorded)
    ran = recorded_lines(prefix.log, wait=5 if programs else 0)
    if programs:
        assert len(ran) == 1 and f"{installed}to{installed - 1}.exe" in ran[0], ran
    else:
        assert ran == []  # downgrades never open the release notes
