"""The UI robot against a dialog of known controls (robot_target.exe): what
later tests of the updater's dialogs rely on must hold here first."""

import time

import pytest

import wine_harness

COMBO, EDIT, CHECK, ENABLED, DISABLED, BOX, STATUS = 101, 102, 103, 104, 105, 106, 107
IDOK, IDCANCEL = 1, 2


@pytest.fixture
def target(wine):
    programs = []

    def start():
        program = wine.start(wine_harness.build_file("tests/robot/robot_target.exe"), debug=False)
        programs.append(program)
        return program

    yield start
    for program in programs:
        program.kill()


def events(result):
    return result.stdout.splitlines()


def poll(check, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    return check()


def test_reads_and_works_every_kind_of_control(robot, target):
    program = target()
    dialog = robot.wait_window("Robot Target")
    assert dialog is not None

    controls = {c.id: c for c in robot.controls(dialog)}
    assert {COMBO, EDIT, CHECK, ENABLED, DISABLED, BOX, STATUS, IDOK, IDCANCEL} <= set(controls)
    assert controls[COMBO].cls == "ComboBox"
    assert controls[DISABLED].text == "Disabled" and not controls[DISABLED].enabled
    assert controls[ENABLED].enabled and controls[ENABLED].visible
    assert controls[CHECK].checked == 0 and controls[STATUS].checked == -1
    assert robot.text(dialog, STATUS) == "Status line"

    assert robot.combo(dialog, COMBO) == ("", ["Alpha", "Beta", "Gamma"])
    robot.type(dialog, COMBO, "Be")
    robot.type(dialog, COMBO, "Gamma")  # replaces what was typed
    assert robot.combo(dialog, COMBO)[0] == "Gamma"

    robot.set_text(dialog, EDIT, "tab\there, back\\slash")
    assert robot.text(dialog, EDIT) == "tab\there, back\\slash"

    assert robot.click(dialog, DISABLED) is False
    assert robot.click(dialog, ENABLED) is True
    assert poll(lambda: robot.text(dialog, STATUS) == "Pressed")
    assert robot.click(dialog, CHECK)
    assert poll(lambda: robot.control(dialog, CHECK).checked == 1)

    left, top, right, bottom = robot.rect(dialog)
    assert right > left and bottom > top
    assert robot.state(dialog) == (True, True, True)

    robot.escape(dialog)
    assert robot.wait_gone(dialog)
    assert not robot.exists(dialog)
    result = program.wait()
    assert result.returncode == IDCANCEL
    assert events(result) == ["edit B", "edit Be", "edit G", "edit Ga", "edit Gam",
                              "edit Gamm", "edit Gamma", "click 104", "check 1", "end 2"]


def test_a_box_is_found_before_the_dialog_it_disables(robot, target):
    program = target()
    dialog = robot.wait_window("Robot Target")
    assert robot.click(dialog, BOX)

    box = robot.wait_window(caption="Target Box")
    # Any dialog now means the box: the dialog it disables is passed over.
    assert robot.wait_window(caption="") == box
    assert robot.read_box(box) == ("Target Box", "Hello from the box")
    assert robot.state(dialog) == (True, True, False)
    assert robot.wait_window("Robot Target", timeout=0.2) is None

    robot.close_box(box)
    assert robot.wait_gone(box)
    assert poll(lambda: robot.state(dialog)[2])
    robot.close_box(dialog)
    result = program.wait()
    assert result.returncode == IDCANCEL
    assert events(result)[0].startswith("box ")
    assert events(result)[-1] == "end 2"


@pytest.mark.parametrize("how", ["escape", "close_box", "wm_close"])
def test_every_way_of_closing_cancels(robot, target, how):
    program = target()
    dialog = robot.wait_window("Robot Target")
    getattr(robot, how)(dialog)
    assert program.wait().returncode == IDCANCEL


def test_waiting_for_a_window_that_never_comes_times_out(robot):
    start = time.monotonic()
    assert robot.wait_window("No Such Window", timeout=0.3) is None
    assert time.monotonic() - start < 3
    assert robot.find("NoSuchClass") is None


def test_screenshot_of_a_dialog_under_xvfb(wine, robot, target, tmp_path):
    robot.close()
    with wine_harness.Xvfb() as xvfb:
        wine.use_display(xvfb.display)
        with wine.robot() as shown:
            program = target()
            dialog = shown.wait_window("Robot Target")
            window_id = shown.x11_id(dialog)
            assert window_id != 0
            whole = xvfb.screenshot(tmp_path / "screen.png")
            single = xvfb.screenshot(tmp_path / "dialog.png", window_id)
            shown.escape(dialog)
            assert program.wait().returncode == IDCANCEL
        wine.use_display(None)
    assert whole.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert single.stat().st_size > 0
