"""The 32-bit build end to end: discovery over the game link, a download
from the patch server and a library patch applied through ordinal 1 of the
32-bit PATCHW32.dll. This is where a wrong calling convention or a structure
size taken from the 64-bit build would show. Wine runs the 32-bit programs
in its WoW64 part ("wine", with the i386 libraries of scripts/setup.sh)."""

import shutil
from pathlib import Path

import pytest

import wine_harness
from peers.game_peer import GamePeer
from peers.patch_peer import Patch, PatchPeer
from update_kit import (KEY, PatchMaker, game_tree, make_install, point_at_game_server,
                        read_tree, run_updater)

X86 = wine_harness.ROOT / "build" / "windows-x86"


@pytest.fixture
def x86_build():
    updater = X86 / "src" / "MirelandsUpdate.exe"
    library = X86 / "bin" / "PATCHW32.dll"
    if not (updater.exists() and library.exists()):
        pytest.skip("the 32-bit build is absent: cmake --preset windows-x86 && "
                    "cmake --build --preset windows-x86")
    assert shutil.which("wine"), "'wine' is missing: scripts/setup.sh installs wine32:i386"
    return updater, library


def test_update_with_the_32_bit_build(x86_build, wine, tmp_path):
    updater, library = x86_build
    patches = PatchMaker(tmp_path / "patches")
    install_dir = make_install(tmp_path / "install", 1, updater=updater, library=library)
    step = Patch(2, "1to2.rtp", patches.patch(1, 2).read_bytes())
    server = PatchPeer({1: step})
    game = GamePeer(version=2, servers=[("127.0.0.1", server.port)]).start()
    # The 32-bit updater goes through the WoW64 loader; the robot stays 64-bit.
    wine.command = lambda exe, args=(): ["wine", str(exe)] + [str(a) for a in args]
    try:
        point_at_game_server(wine, game.port)
        with wine.robot() as robot:
            result, boxes = run_updater(wine, robot, install_dir)
    finally:
        game.stop()
        server.close()

    assert (result.returncode, boxes) == (1, []), result.debug[-20:]
    assert server.requests == [1]
    assert read_tree(install_dir) == game_tree(2)
    assert wine.reg_values(KEY)["Version"] == 2
