"""Installs for the functional tests and the demo: game trees of any version,
patch files made by mkpatch, the install files the updater reads
("Security.Chk", "Version.Txt", "Language.Txt", "ServerList.Txt"), the
registry set-up, the demo's opener as the program that opens .txt files, and a
run of the updater with every message box read and dismissed."""

import os
import random
import subprocess
import time
from pathlib import Path

import wine_harness

KEY = r"HKCU\Software\Corvane\MRL"
SILENT = ["Amber", "Kite"]  # one text for the updater; Wine quotes an argv word with a blank
TEXTS = {
    51: "The game server does not answer.",
    85: "No patch server can be reached.",
    94: "The downgrade to version %d could not be applied.",
    183: "Later",
    184: "%s: %.1f %c of %.1f %c",
    187: "Install check: %s [%s] has %u bytes, expected %s",
}
TEST_KEY = wine_harness.ROOT / "tests" / "data" / "test-signing.key"
NEXT_KEY = wine_harness.ROOT / "tests" / "data" / "test-signing-next.key"
KEYED_LIBRARY = "bin/keyed/PATCHW32.dll"  # trusts TEST_KEY only
ROTATION_LIBRARY = "bin/rotation/PATCHW32.dll"  # trusts TEST_KEY and NEXT_KEY
DOWNGRADE_LIMIT = ("An Error occured with the patch system, please close everything and run "
                   "MRL.EXE again.")


def native_build_dir():
    return Path(os.environ.get("MRL_NATIVE_BUILD", wine_harness.ROOT / "build" / "native"))


def recorder_exe(preset="windows"):
    """The demo's opener: it notes its command line in $MRL_DEMO_OPENED."""
    return wine_harness.build_file("tools/demo/demo_opener.exe", preset)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# ---------------------------------------------------------------- game trees

_BASE = random.Random(1234).randbytes(96 * 1024)


def game_tree(version):
    """{path: bytes} of the game at a version: a large data file changed in a
    few places per version, a program, a file that only even versions have,
    the release notes and Version.Txt."""
    world, rnd = bytearray(_BASE), random.Random(version)
    for _ in range(version):
        at = rnd.randrange(len(world) - 512)
        world[at:at + 512] = rnd.randbytes(512)
    tree = {"Game.EXE": b"MZ" + f"build {version}".encode() * 40, "Data/World.dat": bytes(world),
            "Release.Txt": f"Mirelands {version}\r\n".encode(),
            "Version.Txt": f"{version}\r\n".encode()}
    if version % 2 == 0:
        tree[f"Data/Event{version}.dat"] = rnd.randbytes(3000)
    return tree


def write_tree(directory, tree):
    for name, data in tree.items():
        path = Path(directory) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return Path(directory)


_TOP_LEVEL = {"Game.EXE", "Release.Txt", "Version.Txt"}


def read_tree(directory):
    """The game tree in an install: every file but the updater's own, the
    install files and the patch files."""
    directory = Path(directory)
    return {p.relative_to(directory).as_posix(): p.read_bytes()
            for p in sorted(directory.rglob("*")) if p.is_file()
            and (p.parent != directory or p.name in _TOP_LEVEL)}


class PatchMaker:
    """Patch files between game trees, each made once by mkpatch; workers
    that share the directory see only finished files."""

    def __init__(self, directory):
        self.directory = Path(directory)
        self.directory.mkdir(parents=True, exist_ok=True)

    def patch(self, old, new, signed=False):
        """Signed: by the key the keyed PATCHW32.dll trusts."""
        out = self.directory / f"{old}to{new}{'.signed' if signed else ''}.rtp"
        if not out.exists():
            trees = [self.directory / f"tree{v}.{os.getpid()}" for v in (old, new)]
            for tree, version in zip(trees, (old, new)):
                write_tree(tree, game_tree(version))
            mkpatch = native_build_dir() / "bin" / "mkpatch"
            partial = out.with_suffix(f".{os.getpid()}")
            key = ["--key", str(TEST_KEY)] if signed else []
            subprocess.run([str(mkpatch), "--quiet", *key, *map(str, trees), str(partial)],
                           check=True)
            partial.rename(out)
        return out


def make_patch(directory, old_tree, new_tree, key):
    """A patch between two {path: bytes} trees, signed by `key`."""
    trees = [write_tree(Path(directory) / name, tree)
             for name, tree in (("old", old_tree), ("new", new_tree))]
    out = Path(directory) / "patch.rtp"
    mkpatch = native_build_dir() / "bin" / "mkpatch"
    subprocess.run([str(mkpatch), "--quiet", "--key", str(key), *map(str, trees), str(out)],
                   check=True)
    return out.read_bytes()


# ---------------------------------------------------------------- install files

def write_security_chk(directory, entries):
    """entries: [(path, size)]; a size given as text is written as it stands."""
    text = "".join(f"{path}\r\n" + (size if isinstance(size, str) else f"{size}\r\n")
                   for path, size in entries)
    (Path(directory) / "Security.Chk").write_bytes((text + "END\r\n").encode())


def write_language_txt(directory, texts=TEXTS):
    """Text N is the N-th line that is neither blank nor a comment."""
    lines = ["* Mirelands Auto Update", ""] + [texts.get(n, f"Text_{n}") for n in range(1, 188)]
    (Path(directory) / "Language.Txt").write_bytes("\r\n".join(lines).encode() + b"\r\n")


def write_server_list(directory, servers):
    """servers: [(name, address)]; six lines a record."""
    lines = [f"{name}\r\n{address}\r\n\r\nDescription of {name}\r\n\r\n\r\n"
             for name, address in servers]
    (Path(directory) / "ServerList.Txt").write_bytes("".join(lines).encode())


def make_install(directory, version, updater=None, library=None):
    """The game tree at a version, the updater and PATCHW32.dll (both from
    the windows build unless given), an empty install list and the texts."""
    directory = write_tree(directory, game_tree(version))
    for source, name in ((updater or wine_harness.updater_exe(), "MirelandsUpdate.exe"),
                         (library or wine_harness.build_file("bin/PATCHW32.dll"), "PATCHW32.dll")):
        (directory / name).write_bytes(Path(source).read_bytes())
    write_security_chk(directory, [])
    write_language_txt(directory)
    return directory


# ---------------------------------------------------------------- prefix and runs

def register_txt_opener(prefix, opener):
    """The shell opens .txt files with `opener` (the demo's opener: it notes
    its command line and ends; a real editor would stay)."""
    prefix.reg("add", r"HKCR\.txt", "/ve", "/d", "txtfile")
    prefix.reg("add", r"HKCR\txtfile\shell\open\command", "/ve", "/d",
               f'"{windows_path(opener)}" "%1"')
    prefix.stop_server()


def point_at_game_server(prefix, port, extra=None):
    """A typed game server address, as an earlier run stored it."""
    prefix.reg_add(KEY, "MRLServerIP", f"127.0.0.1:{port}")
    for name, value in (extra or {}).items():
        prefix.reg_add(KEY, name, value)


def run_updater(prefix, robot, install_dir, args=SILENT, timeout=60):
    """Runs the updater to its end, pressing OK on every message box;
    (process with its returncode, [box text])."""
    program = prefix.start(Path(install_dir) / "MirelandsUpdate.exe", args, cwd=install_dir)
    try:
        boxes = robot.dismiss_boxes(program, timeout=timeout)
        program.wait()
        return program, [text for _, text in boxes]
    finally:
        program.kill()


def recorded_lines(log, wait=0.0):
    """The command lines the opener noted; waits up to `wait` seconds for
    the first (the shell does not wait for the program it starts)."""
    for _ in range(int(wait * 10) + 1):
        lines = Path(log).read_text("latin-1").splitlines() if Path(log).exists() else []
        if lines:
            return lines
        time.sleep(0.1)
    return []
