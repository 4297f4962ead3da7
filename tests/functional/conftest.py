"""Fixtures of the functional tests: one template Wine prefix per run,
copied for every test, and a throwaway install directory holding a copy of
MirelandsUpdate.exe (the exe's directory is what it records as "Path")."""

import shutil
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness  # noqa: E402


@pytest.fixture(scope="session")
def wine_template():
    root = Path(tempfile.mkdtemp(prefix="mrl-wine-"))
    template = wine_harness.make_template_prefix(root / "template")
    yield template
    shutil.rmtree(root, ignore_errors=True)


@pytest.fixture
def wine(wine_template, tmp_path):
    prefix = wine_harness.copy_prefix(wine_template, tmp_path / "prefix")
    yield prefix
    wine_harness.remove_prefix(prefix)


@pytest.fixture
def install_dir(tmp_path):
    """An empty install directory with the updater in it."""
    directory = tmp_path / "install"
    directory.mkdir()
    shutil.copy2(wine_harness.updater_exe(), directory / "MirelandsUpdate.exe")
    return directory


@pytest.fixture
def robot(wine):
    with wine.robot() as r:
        yield r


@pytest.fixture
def updater(wine, install_dir):
    """Runs the updater of the install directory: updater.run(args) waits for
    its end (no box may appear), updater.start(args) returns the running
    program for the robot."""
    class Updater:
        exe = install_dir / "MirelandsUpdate.exe"

        def run(self, args=(), timeout=30):
            return wine.run(self.exe, args, cwd=install_dir, timeout=timeout)

        def start(self, args=()):
            return wine.start(self.exe, args, cwd=install_dir)

    return Updater()
