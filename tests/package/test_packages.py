"""The kit as a studio gets it (build/packages, made by scripts/package.sh):
the client zips, and the .deb installed on this machine, its units checked,
its servers run with a release its mkrelease built, against the updater from
the win64 zip under Wine; then the package removed without a trace.

Needs root (dpkg -i); ./test.sh runs it after scripts/package.sh."""

import os
import re
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "demo"))

import demo  # noqa: E402  (the demo's game trees)
from wine_runner import WinePrefix  # noqa: E402

PACKAGES = Path(os.environ.get("MRL_PACKAGES", ROOT / "build" / "packages"))
VERSION = re.search(r"project\(MirelandsUpdate VERSION ([\d.]+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)
PROGRAMS = ["mkpatch", "mkrelease", "patchapply", "patch_server", "game_server"]
UNITS = ["mirelands-patch-server.service", "mirelands-game-server.service"]
CONFFILES = {"/etc/mirelands/patch-server.conf", "/etc/mirelands/game-server.conf",
             "/etc/mirelands/game-server-options.conf"}
DEB = PACKAGES / f"mirelands-release-tools_{VERSION}_amd64.deb"
MAX_BINARY = 1_500_000  # bytes: 1.5 MB
NEWEST = 3


def package(name):
    path = PACKAGES / name
    if not path.exists():
        pytest.fail(f"{path} is missing: run scripts/package.sh")
    return path


# ---------------------------------------------------------------- client zips

def pe_facts(data):
    """(machine, COFF symbol count, section names, fixed file version) of a
    PE image; the version from its VS_FIXEDFILEINFO, None without one."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    machine, sections, _, symbol_table, symbols, optional_size = struct.unpack_from(
        "<HHIIIH", data, pe + 4)
    table = pe + 24 + optional_size
    names = []
    for i in range(sections):
        name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode()
        if name.startswith("/"):  # a long name (.eh_frame, .debug_info): in the string table
            at = symbol_table + 18 * symbols + int(name[1:])
            name = data[at:data.index(b"\0", at)].decode()
        names.append(name)
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    version = None
    if at >= 0:
        ms, ls = struct.unpack_from("<II", data, at + 8)
        version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return machine, symbols, names, version


@pytest.mark.parametrize("arch, machine", [("win64", 0x8664), ("win32", 0x14C)])
def test_client_zip_holds_the_stripped_versioned_updater(arch, machine):
    with zipfile.ZipFile(package(f"MirelandsUpdate-{VERSION}-{arch}.zip")) as kit:
        assert sorted(kit.namelist()) == ["INTEGRATION.txt", "MirelandsUpdate.exe",
                                          "PATCHW32.dll"]
        expected = tuple(int(n) for n in (VERSION.split(".") + ["0"] * 4)[:4])
        for name in ("MirelandsUpdate.exe", "PATCHW32.dll"):
            data = kit.read(name)
            assert len(data) <= MAX_BINARY, f"{name}: {len(data)} bytes"
            found_machine, symbols, sections, version = pe_facts(data)
            assert found_machine == machine, name
            assert symbols == 0 and not [s for s in sections if s.startswith(".debug")], \
                f"{name} is not stripped: {sections}"
            assert version == expected, f"{name}: version resource {version}"
        assert f"{VERSION}" in kit.read("INTEGRATION.txt").decode()


# ---------------------------------------------------------------- the .deb

def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=60, **kwargs)


def start_server(args):
    """A server of the package on a free loopback port: (process, port)."""
    proc = subprocess.Popen([*args, "--port", "0", "--bind", "127.0.0.1"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    first = proc.stdout.readline()
    match = re.match(r"listening on [\d.]+:(\d+)", first)
    if not match:
        proc.kill()
        pytest.fail(f"{args[0]} did not start: {first!r}")
    return proc, int(match.group(1))


def updater_from_zip(install, version):
    """The game at a version and the updater and library of the win64 zip."""
    demo.write_tree(install, demo.game_tree(version))
    with zipfile.ZipFile(package(f"MirelandsUpdate-{VERSION}-win64.zip")) as kit:
        kit.extract("MirelandsUpdate.exe", install)
        kit.extract("PATCHW32.dll", install)
    (install / "Security.Chk").write_bytes(b"END\r\n")


@pytest.fixture
def installed():
    """The .deb installed; afterwards purged, and every file it brought gone."""
    if os.geteuid() != 0:
        pytest.skip("dpkg -i needs root")
    deb = package(DEB.name)
    result = run("dpkg", "-i", str(deb))
    assert result.returncode == 0, result.stdout + result.stderr
    files = [Path(f) for f in run("dpkg", "-L", "mirelands-release-tools").stdout.split()]
    try:
        yield [f for f in files if f.is_file()]
    finally:
        result = run("dpkg", "--purge", "mirelands-release-tools")
        assert result.returncode == 0, result.stdout + result.stderr
    left = [str(f) for f in files if f.is_file()]
    assert not left, f"left after the purge: {left}"
    assert not [p for p in PROGRAMS if Path("/usr/bin", p).exists()]
    assert not Path("/etc/mirelands").exists()


def test_deb_installs_runs_an_update_and_leaves_nothing(installed, tmp_path):
    names = {str(f) for f in installed}
    assert {f"/usr/bin/{p}" for p in PROGRAMS} | CONFFILES <= names
    assert {f"/usr/share/man/man1/{p}.1.gz" for p in PROGRAMS} <= names
    assert {f"/usr/lib/systemd/system/{u}" for u in UNITS} <= names
    conffiles = Path("/var/lib/dpkg/info/mirelands-release-tools.conffiles").read_text().split()
    assert set(conffiles) == CONFFILES
    for program in PROGRAMS:
        sections = run("readelf", "-S", f"/usr/bin/{program}").stdout
        assert ".symtab" not in sections and ".debug_info" not in sections, program
        shown = run(f"/usr/bin/{program}", "--version")
        assert (shown.returncode, shown.stdout.split()[-1]) == (0, VERSION), program
    verify = run("systemd-analyze", "verify", *(f"/usr/lib/systemd/system/{u}" for u in UNITS))
    assert verify.returncode == 0 and not verify.stderr.strip(), verify.stderr

    # A release built by the installed mkrelease, served by the installed
    # servers, fetched by the updater of the win64 zip at version 1.
    trees, release = tmp_path / "trees", tmp_path / "release"
    for version in range(1, NEWEST + 1):
        demo.write_tree(trees / str(version), demo.game_tree(version))
    built = run("/usr/bin/mkrelease", "--direct", "1", str(trees), str(release))
    assert built.returncode == 0, built.stdout + built.stderr
    install = tmp_path / "install"
    updater_from_zip(install, 1)
    patch_server, patch_port = start_server(["/usr/bin/patch_server", "--catalogue", str(release)])
    game_server, game_port = start_server(
        ["/usr/bin/game_server", "--announce", str(NEWEST), "--patch-server",
         f"127.0.0.1:{patch_port}"])
    prefix = WinePrefix(tmp_path / "prefix")
    try:
        prefix.start()
        prefix.reg("add", demo.KEY, "/v", "MRLServerIP", "/d", f"127.0.0.1:{game_port}", "/f")
        code = prefix.run(install / "MirelandsUpdate.exe", ["Amber", "Kite"], cwd=install)
        version = prefix.reg_value(demo.KEY, "Version")
    finally:
        prefix.stop()
        for server in (game_server, patch_server):
            server.terminate()
            server.wait(timeout=10)
    assert (code, version) == (1, NEWEST)
    game = {n: h for n, h in demo.digest_tree(install).items()
            if n not in demo.UPDATER_FILES and not n.endswith(".rtp")}
    assert game == demo.digest_tree(trees / str(NEWEST))
