"""The start of a run, on the real MirelandsUpdate.exe under Wine: the
refusal to run beside another updater or the game client, the install check
with its warnings, the registry bootstrap and the version copy."""

import re
import subprocess
import time
from pathlib import Path

import pytest

import install
import wine_harness
from peers.game_peer import GamePeer

KEY = r"HKCU\Software\Corvane\MRL"
CREATING = "**** CREATING REGISTRY ****\r\n"
EXIT_NOTHING_DONE = 0
EXIT_NORMAL_END = 1
EXIT_UP_TO_DATE = 232
SILENT = ["Amber", "Kite"]

IN_USE = ("Your file %s is currenlty used by another program or by the operating system "
          "himself. If you have another copy of MRL open, please close it. If you don't have "
          "any other copy of MRL open, you won't have any problem to play the game but you "
          "won't be able to patch.\r\n")
MISSING = "Your file %s is missing.\r\n"
SIZE_FORMAT = install.SAMPLE_TEXTS[187]


def macro_names():
    return [f"Macro{m}:{k}{letter}"
            for m in range(1, 13) for k in range(1, 13) for letter in "ab"]


def first_run_values(install_dir, version, game):
    values = {"AccountName": "Guest", "AccountPassword": "", "Music": 1, "SoundFX": 1,
              "GamaCorrection": 1, "SavePassword": 0, "Proxy": 0, "Dither": 0, "OnlyBox": 0}
    values.update({name: 0 for name in macro_names()})
    values["Path"] = "Z:" + str(install_dir).replace("/", "\\")
    if version is not None:
        values["Version"] = version
    # Written when the game server is asked: the address the run used.
    values["MRLServerIP2"] = f"127.0.0.1:{game.port}"
    return values


def snapshot(directory):
    return {p.relative_to(directory): (p.stat().st_mtime_ns, p.read_bytes())
            for p in sorted(Path(directory).rglob("*")) if p.is_file()}


@pytest.fixture
def game(install_dir):
    """A game server that finds every install up to date, so that a run that
    gets past the start-up ends at once (232, or 1 without a "Version")."""
    with GamePeer(version=0) as peer:
        yield peer


def version_txt_number(install_dir):
    """The version the updater reads from Version.Txt (its first 8
    characters as a decimal number), or None without the file."""
    path = install_dir / "Version.Txt"
    if not path.exists():
        return None
    match = re.match(r"[ \t]*([+-]?)(\d*)", path.read_bytes()[:8].decode("latin-1"))
    number = int(match.group(2) or 0)
    return (-number if match.group(1) == "-" else number) & 0xFFFFFFFF


def answer_up_to_date(install_dir, game):
    """Points the install's server list at the local game server, which then
    answers with the version the run records."""
    install.write_server_list(install_dir, [dict(name="Local", address=f"127.0.0.1:{game.port}")])
    version = version_txt_number(install_dir)
    game.version = 0 if version is None else version
    return EXIT_NORMAL_END if version is None else EXIT_UP_TO_DATE


def run_to_end(updater, install_dir, game, timeout=30):
    """Runs the updater in silent mode past the start-up; (result, expected exit)."""
    expected = answer_up_to_date(install_dir, game)
    return updater.run(SILENT, timeout=timeout), expected


def ending(install_dir):
    """How a run that gets past the start-up ends against the local server."""
    return EXIT_NORMAL_END if version_txt_number(install_dir) is None else EXIT_UP_TO_DATE


def run_with_boxes(updater, robot, install_dir, game, args=SILENT):
    """Runs the updater, pressing OK on every box; (result, [(caption, text)])."""
    answer_up_to_date(install_dir, game)
    program = updater.start(args)
    try:
        boxes = robot.dismiss_boxes(program, timeout=30)
        return program.wait(), boxes
    finally:
        program.kill()


def warning(text):
    return ("Warning", text)


# ------------------------------------------------------------ already running

@pytest.fixture
def holder(wine):
    """Starts hold_window.exe with a window of the given class."""
    started = []

    def start(window_class):
        wine.start_server()
        proc = subprocess.Popen(wine.command(wine_harness.hold_window_exe(), [window_class]),
                                env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        started.append(proc)
        assert proc.stdout.readline().strip() == "ready"
        return proc

    yield start
    for proc in started:
        proc.kill()
        proc.wait()


@pytest.mark.parametrize("window_class", ["PatchMEClass", "AppClass"])
def test_refuses_to_run_beside_updater_or_game(wine, updater, install_dir, holder, window_class):
    # An install that would show a warning and create the key if the run went on.
    install.make_sample_install(install_dir)
    install.write_security_chk(install_dir, [("Missing.dat", 10)])
    before = snapshot(install_dir)
    holder(window_class)

    result = updater.run(timeout=20)

    assert result.returncode == EXIT_NOTHING_DONE
    assert result.debug == []
    assert snapshot(install_dir) == before
    assert wine.reg_values(KEY) is None


def test_second_updater_leaves_while_the_first_shows_a_warning(wine, updater, install_dir, game, robot):
    install.make_sample_install(install_dir)
    install.write_security_chk(install_dir, [("Missing.dat", 10)])
    answer_up_to_date(install_dir, game)
    first = updater.start(SILENT)
    try:
        box = robot.wait_window(caption="Warning", timeout=15)
        assert box is not None
        # The box belongs to the invisible main window, a 0 x 0 popup centred
        # for 640 x 480 on the screen.
        main, main_class, main_title = robot.owner(box)
        assert (main_class, main_title) == ("PatchMEClass", "Mirelands Auto Update")
        width, height = robot.screen()
        x, y = (width - 640) // 2, (height - 480) // 2
        assert robot.rect(main) == (x, y, x, y)
        second = updater.run(timeout=20)
        assert second.returncode == EXIT_NOTHING_DONE
        assert second.debug == []
        robot.click(box, 1)
        assert first.wait().returncode == EXIT_UP_TO_DATE
    finally:
        first.kill()


# ------------------------------------------------------------ registry

def test_fresh_profile_gets_every_default_path_and_version(wine, updater, install_dir, game):
    install.make_sample_install(install_dir, version=37)

    result, expected = run_to_end(updater, install_dir, game)

    assert result.returncode == expected
    assert result.debug.count(CREATING) == 1
    assert wine.reg_values(KEY) == first_run_values(install_dir, 37, game)


def test_later_runs_write_only_the_version(wine, updater, install_dir, game):
    install.make_sample_install(install_dir, version=37)
    result, expected = run_to_end(updater, install_dir, game)
    assert result.returncode == expected
    # The player's own settings and a moved install stay as they are.
    wine.reg_add(KEY, "Music", 0)
    wine.reg_add(KEY, "AccountName", "Rowan")
    wine.reg_add(KEY, "Path", r"C:\Elsewhere")
    wine.reg_add(KEY, "MRLServerIP", "Local")
    expected = wine.reg_values(KEY)

    for text, version in (("  +38 build\r\n", 38), ("123456789\r\n", 12345678),
                          ("v12\r\n", 0), ("41", 41)):
        (install_dir / "Version.Txt").write_bytes(text.encode())
        result, expected_end = run_to_end(updater, install_dir, game)
        assert result.returncode == expected_end
        assert CREATING not in result.debug
        expected["Version"] = version
        assert wine.reg_values(KEY) == expected, text


def test_without_version_txt_the_version_is_not_written(wine, updater, install_dir, game):
    install.make_sample_install(install_dir)
    (install_dir / "Version.Txt").unlink()

    result, expected = run_to_end(updater, install_dir, game)

    assert result.returncode == expected == EXIT_NORMAL_END
    assert wine.reg_values(KEY) == first_run_values(install_dir, None, game)


# ------------------------------------------------------------ install check

def test_each_bad_entry_gets_one_warning_in_list_order(wine, updater, install_dir, game, robot):
    install.write_language_txt(install_dir)
    install.write_version_txt(install_dir, 5)
    install.write_game_files(install_dir, {
        "Good.dat": b"12345", "Data\\Big.dat": b"0123456789", "Empty.dat": b"",
        "Tail.dat": b"abc"})
    install.write_security_chk(install_dir, [
        ("Good.dat", 5),
        ("Data\\Big.dat", " 7 bytes\r\n"),   # size line quoted as read
        ("Empty.dat", 4),                    # empty but expected: reported missing
        ("Gone.dat", 3),
        ("NeverThere.dat", 0),               # expected 0: in order
        ("Tail.dat", "abc\r\n"),             # no digits: expects 0
    ])

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert boxes == [
        warning(SIZE_FORMAT % ("Data\\Big.dat", "Data\\Big.dat", 10, " 7 bytes\r\n")),
        warning(MISSING % "Empty.dat"),
        warning(MISSING % "Gone.dat"),
        warning(SIZE_FORMAT % ("Tail.dat", "Tail.dat", 3, "abc\r\n")),
    ]
    # Warnings never stop the run.
    assert result.returncode == ending(install_dir)
    assert wine.reg_values(KEY)["Version"] == 5


def test_end_as_first_line_checks_nothing(wine, updater, install_dir, game, robot):
    install.write_language_txt(install_dir)
    (install_dir / "Security.Chk").write_bytes(b"END\r\nGone.dat\r\n3\r\nEND\r\n")

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert boxes == []
    assert result.returncode == ending(install_dir)


def test_list_without_end_ends_with_its_last_entry(wine, updater, install_dir, game, robot):
    install.write_language_txt(install_dir)
    install.write_security_chk(install_dir, [("Gone.dat", 3)], end=False)
    # A path whose size line is cut off ends the list without a finding.
    with open(install_dir / "Security.Chk", "ab") as f:
        f.write(b"AlsoGone.dat\r\n")

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert boxes == [warning(MISSING % "Gone.dat")]
    assert result.returncode == ending(install_dir)


@pytest.mark.parametrize("text_187, expected", [
    ("The file %s is missing, please reinstall.",
     "The file Security.Chk is missing, please reinstall."),
    # A wording made for the four arguments of the size finding is not filled
    # with arguments that were never passed: the built-in wording stands in.
    (SIZE_FORMAT, "The file Security.Chk of your installation is missing.\r\n"),
])
def test_missing_list_warns_and_ends_the_run(wine, updater, install_dir, game, robot, text_187,
                                             expected):
    install.write_language_txt(install_dir, {**install.SAMPLE_TEXTS, 187: text_187})
    install.write_version_txt(install_dir, 9)

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert boxes == [warning(expected)]
    assert result.returncode == EXIT_NOTHING_DONE
    assert wine.reg_values(KEY) is None


@pytest.fixture
def read_only_dir(install_dir):
    """A sub-folder of the install on a read-only bind mount: its files can
    be read but not opened for writing, even by root."""
    folder = install_dir / "ro"
    folder.mkdir()
    (folder / "Locked.dat").write_bytes(b"locked")
    mounted = subprocess.run(["mount", "--bind", str(folder), str(folder)],
                             stderr=subprocess.DEVNULL).returncode == 0
    if not mounted:
        pytest.skip("needs root and bind mounts for a read-only file")
    try:
        subprocess.run(["mount", "-o", "remount,bind,ro", str(folder)], check=True)
        yield folder
    finally:
        subprocess.run(["umount", str(folder)])


def test_read_only_file_is_reported_in_use(wine, updater, install_dir, game, robot, read_only_dir):
    install.write_language_txt(install_dir)
    # Even the right size cannot be seen through a handle that was refused.
    install.write_security_chk(install_dir, [("ro\\Locked.dat", 6), ("ro\\Gone.dat", 1)])

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert boxes == [warning(IN_USE % "ro\\Locked.dat"), warning(MISSING % "ro\\Gone.dat")]
    assert result.returncode == ending(install_dir)


def test_without_language_txt_the_built_in_texts_speak(wine, updater, install_dir, game, robot):
    install.write_game_files(install_dir, {"Big.dat": b"0123456789"})
    install.write_security_chk(install_dir, [("Big.dat", 4)])

    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert result.returncode == ending(install_dir)
    assert len(boxes) == 1 and boxes[0][0] == "Warning" and "Big.dat" in boxes[0][1]

    (install_dir / "Security.Chk").unlink()
    result, boxes = run_with_boxes(updater, robot, install_dir, game)

    assert result.returncode == EXIT_NOTHING_DONE
    assert len(boxes) == 1 and boxes[0][0] == "Warning" and "Security.Chk" in boxes[0][1]
