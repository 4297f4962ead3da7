"""Fixtures of the functional tests. One template prefix and one set of
patch files per run, shared by the pytest-xdist workers; every test gets a
copy of the prefix (with .txt files opening in the demo's opener, which notes
into the test's own log), a robot in it and peers stopped after the test."""

import fcntl
import os
import random
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import update_kit  # noqa: E402
import wine_harness  # noqa: E402
from peers.game_peer import GamePeer  # noqa: E402
from peers.patch_peer import PatchPeer  # noqa: E402


@pytest.fixture(scope="session")
def shared(tmp_path_factory):
    """A directory of the whole run: the workers' base directories share
    their parent."""
    base = tmp_path_factory.getbasetemp()
    return base.parent if os.environ.get("PYTEST_XDIST_WORKER") else base


@pytest.fixture(scope="session")
def template(shared):
    path = shared / "template"
    with open(shared / "template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (path / "ready").exists():
            prefix = wine_harness.make_template_prefix(path)
            update_kit.register_txt_opener(prefix, update_kit.recorder_exe())
            (path / "ready").touch()
    return path


@pytest.fixture(scope="session")
def patches(shared):
    return update_kit.PatchMaker(shared / "patches")


@pytest.fixture
def prefix(template, tmp_path, monkeypatch):
    log = tmp_path / "recorder.log"
    # Inherited by the updater, the programs it starts and the shell's opener.
    monkeypatch.setenv("MRL_DEMO_OPENED", update_kit.windows_path(log))
    p = wine_harness.copy_prefix(template, tmp_path / "prefix")
    p.log = log
    yield p
    p.stop_server()
    shutil.rmtree(p.path, ignore_errors=True)


@pytest.fixture
def robot(prefix):
    with prefix.robot() as r:
        yield r


@pytest.fixture
def peers():
    """peers.game(...) and peers.patch(...) start peers stopped after the test."""
    started = []

    class Peers:
        def game(self, *args, **kwargs):
            started.append(GamePeer(*args, **kwargs))
            return started[-1]

        def patch(self, *args, **kwargs):
            started.append(PatchPeer(*args, **kwargs))
            return started[-1]

        def on_fixed_port(self, make, port, *args):
            """(host, make(*args, host, port)) on a 127.x.y.z address where
            `port` is free: runs in other work trees use the same port."""
            for _ in range(50):
                host = "127." + ".".join(str(random.randint(2, 254)) for _ in range(3))
                try:
                    return host, make(*args, host=host, port=port)
                except OSError:
                    continue
            pytest.skip(f"no loopback address with port {port} free")

    yield Peers()
    for peer in started:
        peer.stop()
