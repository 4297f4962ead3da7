#!/usr/bin/env python3
"""The demo: a whole update on loopback, headless.

Generated game trees 1 to 5, the studio's signing key (made once with
mkpatch keygen and kept under build/demo/key), a PATCHW32.dll built to
trust that key alone, the release built from the trees with mkrelease and
signed with the key (the chain, the downgrade files and direct patches to
version 5), the reference patch server serving it, the reference game server announcing
version 5 and that patch server (reached through a wire tap that counts
the datagrams), and the updater run in silent mode under Wine on an install
at version 1: it fetches one direct patch. Then a second run, which finds
the install up to date. Each run ends with a summary: the versions before
and after, the files changed, the bytes downloaded, the exit code and its
meaning, and what the shell was asked to open.

Run it through ./demo.sh (which builds first) or, with the native and
windows builds in place, /usr/bin/python3 tools/demo/demo.py.
"""

import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wire_tap  # noqa: E402
from wine_runner import WinePrefix, windows_path  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
NATIVE = Path(os.environ.get("MRL_NATIVE_BUILD", ROOT / "build" / "native"))
WINDOWS = Path(os.environ.get("MRL_WINDOWS_BUILD", ROOT / "build" / "windows"))
DEMO = ROOT / "build" / "demo"
KEY_NAME = DEMO / "key" / "studio"  # studio.key (private), studio.pub (public)
DLL_BUILD = DEMO / "dll"  # PATCHW32.dll trusting studio.pub alone
KEY = r"HKCU\Software\Corvane\MRL"
NEWEST = 5
UPDATER_FILES = {"MirelandsUpdate.exe", "PATCHW32.dll", "Security.Chk", "Language.Txt"}
EXIT_MEANINGS = {
    0: "nothing done: another updater or the game client runs, or Security.Chk is missing",
    1: "normal end: the install has the server's version (or a download ended short)",
    232: "already up to date: the installed version is the server's version",
    233: "no patch server could be reached, or the connection failed",
    234: "a patch program was started, a downgrade failed, or the player cancelled",
    240: "the downgrade stopped after five steps",
}


def say(text=""):
    print(text, flush=True)


def built(build, relative):
    path = build / relative
    if not path.exists():
        raise FileNotFoundError(f"{path} is missing: run ./demo.sh, which builds it")
    return path


# ---------------------------------------------------------------- game trees

def game_tree(version):
    """{relative path: bytes} of the game at a version: a large data file
    changed in a few places by each version, a program changed a little, a
    file that only even versions have, the release notes and Version.Txt."""
    world = bytearray(random.Random(1234).randbytes(96 * 1024))
    for step in range(2, version + 1):
        edit = random.Random(step)
        at = edit.randrange(len(world) - 512)
        world[at:at + 512] = edit.randbytes(512)
    tree = {
        "Game.EXE": b"MZ" + bytes(510) + f"build {version}".encode() * 40,
        "Data/World.dat": bytes(world),
        "Data/Sounds.dat": b"RIFF" + bytes(2000),
        "Release.Txt": f"Mirelands version {version}\r\nWhat is new.\r\n".encode(),
        "Version.Txt": f"{version}\r\n".encode(),
    }
    if version % 2 == 0:
        tree[f"Data/Event{version}.dat"] = random.Random(-version).randbytes(3000)
    return tree


def write_tree(directory, tree):
    for name, data in tree.items():
        path = Path(directory) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def digest_tree(directory):
    directory = Path(directory)
    return {p.relative_to(directory).as_posix(): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in sorted(directory.rglob("*")) if p.is_file()}


def shown(path):
    return Path(path).relative_to(ROOT)


def run_tool(args, what, check=True):
    """Runs a native tool (bin/...) and shows the command and its output."""
    args = [str(shown(a)) if isinstance(a, Path) else a for a in args]
    say(f"  $ {' '.join(args)}")
    result = subprocess.run([str(built(NATIVE, f"bin/{args[0]}")), *args[1:]], cwd=ROOT,
                            capture_output=True, text=True)
    for line in (result.stdout + result.stderr).splitlines():
        say(f"  {line}".rstrip())
    if check and result.returncode != 0:
        raise RuntimeError(f"{what} failed with exit code {result.returncode}")
    return result.returncode


def signing_key():
    """The studio's key pair, made once: a studio keeps its key (offline,
    backed up) and signs every release with it."""
    if KEY_NAME.with_suffix(".key").exists():
        say(f"  kept from an earlier run: {shown(KEY_NAME)}.key and .pub")
    else:
        KEY_NAME.parent.mkdir(parents=True, exist_ok=True)
        run_tool(["mkpatch", "keygen", KEY_NAME], "mkpatch keygen")


def trusting_library():
    """PATCHW32.dll configured with MRL_TRUSTED_KEYS = the studio's public
    key, only the library built (the windows toolchain, a build tree of its
    own); returns its path."""
    say(f"  $ cmake -B {shown(DLL_BUILD)} --toolchain cmake/toolchain-mingw64.cmake "
        f"-DMRL_TRUSTED_KEYS={shown(KEY_NAME)}.pub && cmake --build {shown(DLL_BUILD)} "
        "--target patchw32")
    configure = subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(DLL_BUILD), "-G", "Ninja",
         f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'toolchain-mingw64.cmake'}",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DMRL_TESTS=OFF",
         f"-DMRL_TRUSTED_KEYS={KEY_NAME}.pub"],
        capture_output=True, text=True)
    for line in configure.stdout.splitlines():
        if line.startswith("-- patchw32:"):
            say(f"  PATCHW32.dll trusts {line.split(': ', 1)[1].replace(str(ROOT) + '/', '')}")
    if configure.returncode != 0:
        raise RuntimeError(f"configuring the library failed:\n{configure.stderr}")
    subprocess.run(["cmake", "--build", str(DLL_BUILD), "--target", "patchw32"],
                   stdout=subprocess.DEVNULL, check=True)
    return DLL_BUILD / "bin" / "PATCHW32.dll"


def make_release(trees, release):
    """mkrelease over the trees, direct patches for every older version,
    every patch signed; then what the library's check says of a patch of
    the release and of an unsigned one."""
    run_tool(["mkrelease", "--direct", str(NEWEST - 1), "--key", KEY_NAME.with_suffix(".key"),
              trees, release], "mkrelease")
    run_tool(["mkpatch", "verify", release / f"1to{NEWEST}.rtp", KEY_NAME.with_suffix(".pub")],
             "mkpatch verify")
    say("  an unsigned patch, and the library's check of it (patchapply does what "
        "PATCHW32.dll does):")
    scratch = DEMO / "scratch"
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.copytree(trees / "1", scratch / "game")
    run_tool(["mkpatch", "--quiet", trees / "1", trees / "2", scratch / "unsigned.rtp"],
             "mkpatch")
    code = run_tool(["patchapply", "--key", KEY_NAME.with_suffix(".pub"),
                     scratch / "unsigned.rtp", scratch / "game"], "patchapply", check=False)
    if code != 9:
        raise RuntimeError(f"an unsigned patch gave {code}, not 9 (refused)")
    shutil.rmtree(scratch)


def make_install(directory, version, library):
    """The game tree at a version, the updater from the windows build, the
    given PATCHW32.dll, an empty install list and the built-in English texts."""
    write_tree(directory, game_tree(version))
    shutil.copy2(built(WINDOWS, "src/MirelandsUpdate.exe"), directory / "MirelandsUpdate.exe")
    shutil.copy2(library, directory / "PATCHW32.dll")
    (directory / "Security.Chk").write_bytes(b"END\r\n")
    subprocess.run([str(built(NATIVE, "tools/make_language_file/mrl_make_language_file")),
                    str(directory / "Language.Txt")], check=True)


# ---------------------------------------------------------------- servers

class Server:
    """A reference server (native build) on a free loopback port; its first
    line says where it listens, later lines are collected as they come."""

    def __init__(self, relative, args):
        self.proc = subprocess.Popen([str(built(NATIVE, relative)), "--port", "0", *args],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        self.first_line = self.proc.stdout.readline().strip()
        match = re.match(r"listening on [\d.]+:(\d+)", self.first_line)
        if not match:
            self.stop()
            raise RuntimeError(f"{relative} did not start: {self.first_line!r}")
        self.port = int(match.group(1))
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def take_lines(self, settle=0.3):
        time.sleep(settle)
        lines, self.lines = self.lines, []
        return lines

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


# ---------------------------------------------------------------- one run

def summary(prefix, install_dir, before_files, before_version, code):
    after_files = digest_tree(install_dir)
    after_version = prefix.reg_value(KEY, "Version")
    added = sorted(set(after_files) - set(before_files))
    removed = sorted(set(before_files) - set(after_files))
    changed = sorted(n for n in set(before_files) & set(after_files)
                     if before_files[n] != after_files[n])
    downloaded = [n for n in added + changed if n.endswith(".rtp")]
    added = [n for n in added if n not in downloaded]
    changed = [n for n in changed if n not in downloaded]
    say(f"  version before: {before_version}   after: {after_version}")
    say(f"  game files changed: {len(changed)}, added: {len(added)}, removed: {len(removed)}")
    for label, names in (("changed", changed), ("added", added), ("removed", removed)):
        for name in names:
            say(f"    {label:8} {name}")
    total = sum((install_dir / n).stat().st_size for n in downloaded)
    say(f"  bytes downloaded: {total} in {len(downloaded)} patch file(s)"
        + (f": {', '.join(downloaded)}" if downloaded else ""))
    if code is None:
        say("  the updater did not end within 90 s (a message box may be waiting); stopped")
    else:
        say(f"  exit code {code}: {EXIT_MEANINGS.get(code, 'unknown')}")
    return after_files, after_version


def opened_lines(log, wait):
    """What the opener noted, waiting up to `wait` s for a whole line: the
    shell does not wait for the opener, which creates the file before it
    writes its line."""
    deadline = time.monotonic() + wait
    text = ""
    while True:
        text = log.read_text("latin-1") if log.exists() else ""
        if text.endswith("\n") or time.monotonic() >= deadline:
            break
        time.sleep(0.1)
    log.unlink(missing_ok=True)
    return [line for line in text.splitlines() if line]


def main():
    for stale in ("install", "trees", "release"):
        shutil.rmtree(DEMO / stale, ignore_errors=True)
    DEMO.mkdir(parents=True, exist_ok=True)

    trees, release = DEMO / "trees", DEMO / "release"
    say("== The studio's signing key, and a PATCHW32.dll that trusts it alone")
    signing_key()
    library = trusting_library()
    say(f"\n== Game trees 1 to {NEWEST} and the release, built and signed with mkrelease")
    for version in range(1, NEWEST + 1):
        write_tree(trees / str(version), game_tree(version))
    make_release(trees, release)

    install_dir = DEMO / "install"
    make_install(install_dir, 1, library)
    say(f"\n== Install at version 1 in {install_dir.relative_to(ROOT)}, with that PATCHW32.dll")
    for path in sorted(install_dir.rglob("*")):
        if path.is_file():
            say(f"  {path.relative_to(install_dir).as_posix():24} {path.stat().st_size:8} bytes")

    # No text editor in a headless demo: the release notes "open" in a small
    # program that notes what it was asked to open.
    prefix = WinePrefix(DEMO / "prefix")
    opened = DEMO / "opened.log"
    opened.unlink(missing_ok=True)
    prefix.env["MRL_DEMO_OPENED"] = windows_path(opened)
    prefix.start()
    patch_server = Server("tools/patch_server/patch_server",
                          ["--catalogue", str(release), "--bind", "127.0.0.1"])
    game = Server("tools/game_server/game_server",
                  ["--announce", str(NEWEST), "--patch-server", f"127.0.0.1:{patch_server.port}"])
    tap = wire_tap.WireTap(("127.0.0.1", game.port))
    say("\n== Reference servers on loopback")
    say(f"  patch server (tools/patch_server): port {patch_server.port}, catalogue "
        f"{release.relative_to(ROOT)} (its manifest.txt, written by mkrelease)")
    say(f"  game server (tools/game_server): {game.first_line}; the updater reaches it "
        f"through a wire tap on UDP port {tap.port}")

    try:
        prefix.reg("delete", KEY, "/f")  # every demo starts as a first run
        opener = windows_path(built(WINDOWS, "tools/demo/demo_opener.exe"))
        prefix.reg("add", r"HKCR\.txt", "/ve", "/d", "txtfile", "/f")
        prefix.reg("add", r"HKCR\txtfile\shell\open\command", "/ve", "/d",
                   f'"{opener}" "%1"', "/f")
        # The game server to ask, as a typed address from an earlier run.
        prefix.reg("add", KEY, "/v", "MRLServerIP", "/d", f"127.0.0.1:{tap.port}", "/f")
        files, version = digest_tree(install_dir), 1
        for title in ("Run 1: the updater in silent mode (\"Amber Kite\")",
                      "Run 2: the same install again"):
            say(f"\n== {title}")
            code = prefix.run(install_dir / "MirelandsUpdate.exe", ["Amber", "Kite"],
                              cwd=install_dir)
            datagrams, tap.datagrams = tap.datagrams, []
            questions = sum(1 for _, d, data in datagrams if d == "->" and len(data) > 12)
            say(f"  game link: {len(datagrams)} datagrams, {questions} of them version questions")
            for line in game.take_lines():
                say(f"  game server: {line}")
            files, version = summary(prefix, install_dir, files, version, code)
            for line in opened_lines(opened, wait=3 if code == 1 else 0):
                say(f"  the shell opened: {line.rsplit(chr(92), 1)[-1].strip(chr(34))}")
    finally:
        prefix.stop()
        tap.close()
        game.stop()
        patch_server.stop()
    say("\n== What the patch server saw")
    for line in patch_server.take_lines():
        say(f"  {line}")
    game_files = {n: h for n, h in digest_tree(install_dir).items()
                  if n not in UPDATER_FILES and not n.endswith(".rtp")}
    same = game_files == digest_tree(trees / str(NEWEST))
    say(f"\nThe install {'equals' if same else 'DIFFERS FROM'} the version {NEWEST} tree.")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
