"""The searching dialog on its own thread under Wine: Cancel and Escape end
the program with 234, the close box only closes the dialog, and the driver's
End closes it whether it comes before or after the box is up.

The dialog thread is started by dialog_host.exe (see dialog_host.py), as the
driver's server discovery will start it."""

import pytest

# The Wine harness and the robot come with the updater's functional tests.
pytest.importorskip("wine_harness", reason="tests/functional/wine_harness.py is not there")

import dialog_host  # noqa: E402

SEARCHING_TEXT = "Now looking for a patch server. Please wait...."


@pytest.fixture
def start_host(wine, install_dir_for_host):
    programs = []

    def start(*args):
        program = wine.start(dialog_host.host_exe(), list(args), cwd=install_dir_for_host)
        programs.append(program)
        return program
    yield start
    for p in programs:
        p.kill()


@pytest.fixture
def install_dir_for_host(tmp_path):
    return dialog_host.make_install(tmp_path)


def wait_searching(robot):
    box = robot.wait_window(caption="Mirelands Auto Patch", timeout=20)
    assert box is not None, "the searching dialog did not appear"
    return box


@pytest.mark.parametrize("how", ["cancel", "escape"])
def test_cancel_and_escape_end_the_program_with_234(start_host, robot, how):
    program = start_host("searching")
    box = wait_searching(robot)
    assert robot.text(box, 0xFFFF) == SEARCHING_TEXT
    if how == "cancel":
        assert robot.click(box, 2)
    else:
        robot.escape(box)
    result = program.wait()
    assert result.returncode == 234
    assert "closed" not in result.stdout


def test_close_box_closes_the_dialog_and_the_run_goes_on(start_host, robot):
    program = start_host("searching")
    box = wait_searching(robot)
    robot.close_box(box)
    assert robot.wait_gone(box)
    result = program.wait()
    assert result.returncode == 0
    assert result.stdout.strip() == "closed"


@pytest.mark.parametrize("args", [["--end-after", "800"], ["--end-first"]])
def test_the_driver_ends_it_before_or_after_it_is_up(start_host, robot, args):
    program = start_host("searching", *args)
    result = program.wait(timeout=20)
    assert result.returncode == 0
    assert result.stdout.strip() == "closed"


def test_patching_dialog_cancel_ends_the_program_with_234(start_host, robot):
    program = start_host("patching")
    box = wait_searching(robot)
    assert robot.text(box, 0xFFFF) == (
        "Currently patching. This will take only a short moment. Please Wait...")
    assert robot.click(box, 2)
    assert program.wait().returncode == 234
