"""What the whole-update tests and the demo need around the updater: game
trees of any version, patch files made by mkpatch, an install holding the
updater and PATCHW32.dll, a Wine prefix in which .txt files open with
recorder.exe, and a run in silent mode with every error box read and
dismissed."""

import os
import random
import shutil
import subprocess
from pathlib import Path

import install
import wine_harness

ROOT = Path(__file__).resolve().parents[2]
KEY = r"HKCU\Software\Corvane\MRL"
SILENT = ["Amber", "Kite"]  # one text for the updater; Wine would quote a single argv word
ERROR = "Error Message"
TEXT_85 = install.SAMPLE_TEXTS[85]
TEXT_94 = install.SAMPLE_TEXTS[94]
DOWNGRADE_LIMIT = ("An Error occured with the patch system, please close everything and run "
                   "MRL.EXE again.")

# Files the updater and the tests put beside the game tree.
NOT_IN_TREE = {"MirelandsUpdate.exe", "PATCHW32.dll", "Security.Chk", "Language.Txt",
               "recorder.log"}


def native_build_dir():
    return Path(os.environ.get("MRL_NATIVE_BUILD", ROOT / "build" / "native"))


def mkpatch_exe():
    path = native_build_dir() / "bin" / "mkpatch"
    if not path.exists():
        raise FileNotFoundError(f"{path} is missing: build the native preset first")
    return path


def patch_library():
    return wine_harness.build_file("bin/PATCHW32.dll")


def recorder_exe():
    return wine_harness.build_file("tests/robot/recorder.exe")


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# ---------------------------------------------------------------- game trees

_BASE = random.Random(1234).randbytes(96 * 1024)


def game_tree(version):
    """{relative path: bytes} of the game at a version: a large data file
    changed in a few places per version, a program changed a little, a file
    that only some versions have, the release notes and Version.Txt."""
    world = bytearray(_BASE)
    rnd = random.Random(version)
    for _ in range(version):
        at = rnd.randrange(len(world) - 512)
        world[at:at + 512] = rnd.randbytes(512)
    tree = {
        "Game.EXE": b"MZ" + bytes(510) + f"build {version}".encode() * 40,
        "Data/World.dat": bytes(world),
        "Data/Sounds.dat": b"RIFF" + bytes(2000),  # never changes
        "Release.Txt": f"Mirelands version {version}\r\nWhat is new.\r\n".encode(),
        "Version.Txt": f"{version}\r\n".encode(),
    }
    if version % 2 == 0:
        tree[f"Data/Event{version}.dat"] = rnd.randbytes(3000)
    return tree


def write_tree(directory, tree):
    directory = Path(directory)
    for name, data in tree.items():
        path = directory / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return directory


def read_tree(directory, ignore=NOT_IN_TREE, ignore_suffixes=(".rtp", ".exe")):
    """The game tree found in an install: every file but the updater's own
    and the patch files."""
    directory = Path(directory)
    found = {}
    for path in sorted(directory.rglob("*")):
        name = path.relative_to(directory).as_posix()
        if not path.is_file() or name in ignore:
            continue
        if "/" not in name and name.endswith(ignore_suffixes) and name != "Game.EXE":
            continue
        found[name] = path.read_bytes()
    return found


class PatchMaker:
    """Patch files between game trees, made once per pair by mkpatch."""

    def __init__(self, directory):
        self.directory = Path(directory)
        self.directory.mkdir(parents=True, exist_ok=True)

    def tree_dir(self, version):
        path = self.directory / f"tree{version}"
        if not path.exists():
            write_tree(path, game_tree(version))
        return path

    def patch(self, old, new):
        """Path of the patch file that turns version old into version new."""
        out = self.directory / f"{old}to{new}.rtp"
        if not out.exists():
            subprocess.run([str(mkpatch_exe()), "--quiet", str(self.tree_dir(old)),
                            str(self.tree_dir(new)), str(out)], check=True)
        return out


# ---------------------------------------------------------------- install and prefix

def make_install(directory, version, updater=None, library=None):
    """An install of the game tree at a version: the updater, PATCHW32.dll
    (both from the windows build unless given), an empty install list and
    the texts."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    write_tree(directory, game_tree(version))
    shutil.copy2(updater or wine_harness.updater_exe(), directory / "MirelandsUpdate.exe")
    shutil.copy2(library or patch_library(), directory / "PATCHW32.dll")
    install.write_security_chk(directory, [])
    install.write_language_txt(directory)
    return directory


def register_txt_opener(prefix, opener):
    """Makes the shell open .txt files with the given program (never a real
    editor: the recorder notes what it was asked to open and ends)."""
    prefix.start_server()
    command = f'"{windows_path(opener)}" "%1"'
    for key, value in ((r"HKCR\.txt", "txtfile"),
                       (r"HKCR\txtfile\shell\open\command", command)):
        rc = subprocess.run(["wine64", "reg", "add", key, "/ve", "/d", value, "/f"],
                            env=prefix.env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=60).returncode
        assert rc == 0, f"reg add {key} failed"
    prefix.stop_server()


def point_at_game_server(prefix, port, extra=None):
    """The game server the updater asks, without a server list: a typed
    address stored by an earlier run."""
    prefix.reg_add(KEY, "MRLServerIP", f"127.0.0.1:{port}")
    for name, value in (extra or {}).items():
        prefix.reg_add(KEY, name, value)


def run_updater(prefix, robot, install_dir, args=SILENT, timeout=60):
    """Runs the updater to its end, pressing OK on every error box; returns
    (result, [box text])."""
    program = prefix.start(Path(install_dir) / "MirelandsUpdate.exe", args, cwd=install_dir)
    try:
        boxes = robot.dismiss_boxes(program, caption=ERROR, timeout=timeout)
        return program.wait(), [text for _, text in boxes]
    finally:
        program.kill()


def recorded_lines(log, wait=0.0):
    """The command lines recorder.exe noted, waiting up to `wait` seconds
    for the first one (the shell starts it without waiting)."""
    import time
    deadline = time.monotonic() + wait
    while True:
        if log.exists():
            lines = [line for line in log.read_text("latin-1").splitlines() if line]
            if lines or time.monotonic() >= deadline:
                return lines
        elif time.monotonic() >= deadline:
            return []
        time.sleep(0.1)
