"""The server selection dialog under Wine, driven by the UI robot: what it
lists and preselects, how the description and the link button follow the
choice, Connect, the proxy switch, the locked choice and Cancel.

The dialog is opened by dialog_host.exe (see dialog_host.py) until the
driver's server discovery opens it in the updater itself."""

import pytest

# The Wine harness and the robot come with the updater's functional tests.
pytest.importorskip("wine_harness", reason="tests/functional/wine_harness.py is not there")

import dialog_host  # noqa: E402
from dialog_host import SERVERS, TEXT_78, TEXT_79, TEXT_81, TEXT_82, eventually, results

CONNECT, CANCEL, DESCRIPTION, LINK, COMBO = 1, 2, 1006, 1008, 1009
LABEL, HINT, PATCH_LABEL, PROXY_CHECK, PROXY_EDIT = 1010, 1011, 1012, 1013, 1014

BY_NAME = {s[0]: s for s in SERVERS}


@pytest.fixture
def install(tmp_path):
    return tmp_path


@pytest.fixture
def open_dialog(wine, robot, install):
    """open_dialog(*host args) -> (program, dialog window)."""
    programs = []

    def start(*args, servers=SERVERS):
        dialog_host.make_install(install, servers)
        program = wine.start(dialog_host.host_exe(), ["server", *args], cwd=install)
        programs.append(program)
        box = robot.wait_window(caption="Mirelands", timeout=20)
        assert box is not None, "the server selection dialog did not appear"
        return program, box
    yield start
    for p in programs:
        p.kill()


def enabled(robot, box, control_id):
    return robot.control(box, control_id).enabled


def test_lists_every_server_once_and_preselects_the_first(open_dialog, robot):
    program, box = open_dialog()
    current, items = robot.combo(box, COMBO)
    assert sorted(items) == sorted(BY_NAME)
    assert current == items[0]
    first = BY_NAME[items[0]]
    # The posted combo box command makes the description and link follow.
    assert eventually(lambda: robot.text(box, DESCRIPTION) == first[3])
    assert robot.text(box, LINK) == first[4]
    assert robot.text(box, LABEL) == TEXT_78
    assert robot.text(box, HINT) == TEXT_81
    assert robot.text(box, PATCH_LABEL) == "Patch Server"
    assert robot.text(box, PROXY_CHECK) == "I'm behind a Proxy"
    assert enabled(robot, box, CONNECT)
    assert not enabled(robot, box, PROXY_EDIT)

    assert robot.click(box, CONNECT)
    result = program.wait()
    assert result.returncode == 0
    [report] = results(result.stdout)
    assert report["address"] == items[0]
    assert report["proxy"] == "0" and report["proxyAddress"] == ""
    assert "Msg ID 0 - 1\r\n" in result.debug


def test_registry_choice_stays_preselected_when_not_listed(open_dialog, robot):
    program, box = open_dialog("--address", "10.9.8.7:4000")
    current, items = robot.combo(box, COMBO)
    assert current == "10.9.8.7:4000"
    assert len(items) == 3
    assert robot.text(box, DESCRIPTION) == TEXT_82
    assert robot.text(box, LINK) == TEXT_79
    assert robot.click(box, CONNECT)
    assert results(program.wait().stdout)[0]["address"] == "10.9.8.7:4000"


def test_description_and_link_follow_a_listed_choice_and_stay_on_unknown_text(
        open_dialog, robot, wine, install):
    dialog_host.register_recorder(wine)
    program, box = open_dialog("--address", "somewhere")
    robot.type(box, COMBO, "Saltfen")
    assert eventually(lambda: robot.text(box, DESCRIPTION) == BY_NAME["Saltfen"][3])
    assert robot.text(box, LINK) == "Saltfen news"

    robot.type(box, COMBO, "my.own.host:1234")
    assert robot.text(box, DESCRIPTION) == BY_NAME["Saltfen"][3]
    assert robot.text(box, LINK) == "Saltfen news"

    # The link button opens the last listed choice's target; the dialog stays.
    assert robot.click(box, LINK)
    opened = install / "opened.log"
    assert eventually(lambda: opened.exists() and opened.read_text().strip(), timeout=15)
    assert opened.read_text().strip().endswith("Saltfen.txt")
    assert robot.state(box)[0]

    assert robot.click(box, CONNECT)
    report = results(program.wait().stdout)[0]
    assert report["address"] == "my.own.host:1234"
    assert report["link"] == "Saltfen.txt"


def test_connect_follows_the_text(open_dialog, robot):
    program, box = open_dialog()
    robot.type(box, COMBO, "")
    assert robot.combo(box, COMBO)[0] == ""
    assert not enabled(robot, box, CONNECT)
    assert not robot.click(box, CONNECT)
    robot.type(box, COMBO, "x")
    assert enabled(robot, box, CONNECT)
    assert robot.click(box, CONNECT)
    assert results(program.wait().stdout)[0]["address"] == "x"


def test_without_a_server_list_connect_waits_for_an_address(open_dialog, robot):
    program, box = open_dialog(servers=None)
    assert robot.combo(box, COMBO) == ("", [])
    assert not enabled(robot, box, CONNECT)
    robot.type(box, COMBO, "1.2.3.4")
    assert enabled(robot, box, CONNECT)


def test_proxy_check_box_enables_the_field_and_connect_stores_it(open_dialog, robot):
    program, box = open_dialog()
    assert robot.click(box, PROXY_CHECK)
    assert eventually(lambda: enabled(robot, box, PROXY_EDIT))
    robot.type(box, PROXY_EDIT, "proxy.lan:8080")
    assert robot.click(box, CONNECT)
    report = results(program.wait().stdout)[0]
    assert report["proxy"] == "1"
    assert report["proxyAddress"] == "proxy.lan:8080"


def test_proxy_from_the_registry_is_checked_with_an_empty_field(open_dialog, robot):
    program, box = open_dialog("--address", "Greymoor", "--proxy", "1")
    assert robot.control(box, PROXY_CHECK).checked == 1
    assert enabled(robot, box, PROXY_EDIT)
    assert robot.text(box, PROXY_EDIT) == ""
    assert robot.click(box, CONNECT)
    report = results(program.wait().stdout)[0]
    assert report["proxy"] == "1" and report["proxyAddress"] == ""


def test_proxy_value_locks_the_choice(open_dialog, robot):
    program, box = open_dialog("--locked", "1")
    assert not enabled(robot, box, COMBO)
    assert robot.combo(box, COMBO)[0] in BY_NAME
    assert enabled(robot, box, PROXY_CHECK)
    assert enabled(robot, box, CONNECT)


@pytest.mark.parametrize("how", ["escape", "cancel"])
def test_escape_and_cancel_end_the_program_with_234(open_dialog, robot, how):
    program, box = open_dialog()
    if how == "escape":
        robot.escape(box)
    else:
        assert robot.click(box, CANCEL)
    result = program.wait()
    assert result.returncode == 234
    assert results(result.stdout) == []


def test_second_showing_starts_from_the_first_choice(open_dialog, robot):
    program, box = open_dialog("--showings", "2")
    robot.type(box, COMBO, "Reedwater")
    assert robot.click(box, CONNECT)
    assert robot.wait_gone(box)
    second = robot.wait_window(caption="Mirelands", timeout=20)
    current, items = robot.combo(second, COMBO)
    assert current == "Reedwater" and len(items) == 3
    assert eventually(lambda: robot.text(second, DESCRIPTION) == BY_NAME["Reedwater"][3])
    assert robot.click(second, CONNECT)
    reports = results(program.wait().stdout)
    assert [r["address"] for r in reports] == ["Reedwater", "Reedwater"]
