"""Server discovery: the choice of the game server, a silent game server,
odd answers, and the dialogs that end a run."""

import pytest

from peers.game_peer import answer
from update_kit import KEY, SILENT, TEXTS, make_install, run_updater, write_server_list

SERVER_DIALOG, PROGRESS_DIALOG = "Mirelands", "Mirelands Auto Patch"
CONNECT, CANCEL = 1, 2


def start(prefix, install_dir, args=SILENT):
    return prefix.start(install_dir / "MirelandsUpdate.exe", args, cwd=install_dir)


def test_a_silent_game_server_is_asked_16_times_then_the_server_dialog_comes_back(
        prefix, robot, peers, tmp_path):
    game = peers.game(12, silent=16)
    install_dir = make_install(tmp_path / "install", 12)
    write_server_list(install_dir, [("Testshard", f"127.0.0.1:{game.port}")])

    program = start(prefix, install_dir)
    box, _ = robot.wait("Error Message", timeout=30)
    assert robot.text(box, 0xFFFF) == TEXTS[51]
    # The pace itself (one a second, to the millisecond) is the driver's unit
    # test, on a tick moved by hand; here, on a clock shared with whatever
    # else runs, the questions are spread over the seconds, not sent at once.
    gaps = [b - a for a, b in zip(game.questions, game.questions[1:])]
    assert len(game.questions) == 16, gaps
    assert min(gaps) > 0.5 and game.questions[-1] - game.questions[0] > 13.5, gaps
    assert robot.click(box, 1)
    # Silent mode skips the dialog only at the start.
    dialog, _ = robot.wait(SERVER_DIALOG)
    assert robot.click(dialog, CONNECT)

    assert (robot.dismiss_boxes(program), program.wait()) == ([], 232)
    assert len(game.questions) == 17
    values = prefix.reg_values(KEY)
    assert (values["MRLServerIP"], values["MRLServerIP2"]) == ("Testshard",
                                                               f"127.0.0.1:{game.port}")


def test_keepers_word_ends_the_run_and_a_stored_empty_choice_is_kept(prefix, robot, peers,
                                                                     tmp_path):
    game = peers.game(12)
    install_dir = make_install(tmp_path / "install", 12)
    write_server_list(install_dir, [("Testshard", f"127.0.0.1:{game.port}")])
    # Empty is not "Not Found": no listed server is drawn, and no address
    # is there to ask.
    prefix.reg_add(KEY, "MRLServerIP", "")
    prefix.reg_add(KEY, "Keeper's Word", 1)

    program, boxes = run_updater(prefix, robot, install_dir)

    assert (program.returncode, boxes) == (234, [TEXTS[51]])
    assert game.datagrams == []
    assert prefix.reg_values(KEY)["MRLServerIP"] == ""


def test_the_first_run_stores_the_listed_server_chosen_and_asks_it_on_port_11677(
        prefix, robot, peers, tmp_path):
    hosts, games = zip(*(peers.on_fixed_port(peers.game, 11677, 12) for _ in range(3)))
    names = ["Shard 1", "Shard 2", "Shard 3"]
    install_dir = make_install(tmp_path / "install", 12)
    write_server_list(install_dir, list(zip(names, hosts)))  # addresses without a port

    program = start(prefix, install_dir, [])
    dialog, _ = robot.wait(SERVER_DIALOG)
    assert robot.click(dialog, CONNECT)

    assert (robot.dismiss_boxes(program), program.wait()) == ([], 232)
    values = prefix.reg_values(KEY)
    chosen = names.index(values["MRLServerIP"])
    assert [len(g.questions) for g in games] == [int(n == chosen) for n in range(3)]
    assert values["MRLServerIP2"] == hosts[chosen]


def test_odd_answers_are_dropped_and_an_empty_server_list_ends_with_233(prefix, robot, peers,
                                                                        tmp_path):
    # If a cut answer, or one whose count (40000) were read as signed, were
    # taken, the install would count as up to date.
    up_to_date = answer(12, [("127.0.0.1", 11679), ("127.0.0.1", 11680)])
    game = peers.game(13, answers=[up_to_date[:-3], answer(12, [("127.0.0.1", 11679)], 40000)])
    install_dir = make_install(tmp_path / "install", 12)
    write_server_list(install_dir, [("Testshard", f"127.0.0.1:{game.port}")])

    program, boxes = run_updater(prefix, robot, install_dir)

    assert (program.returncode, boxes) == (233, [TEXTS[85]])
    assert len(game.questions) == 3


@pytest.mark.parametrize("dialog, press, exit_code, questions", [
    (SERVER_DIALOG, "cancel", 234, 0), (PROGRESS_DIALOG, "cancel", 234, None),
    (PROGRESS_DIALOG, "escape", 234, None), (PROGRESS_DIALOG, "close", 232, 4)])
def test_dialogs_that_end_the_run(prefix, robot, peers, tmp_path, dialog, press, exit_code,
                                  questions):
    # The game server answers the fourth question: the searching dialog is
    # up for three seconds.
    game = peers.game(12, silent=3)
    install_dir = make_install(tmp_path / "install", 12)
    write_server_list(install_dir, [("Testshard", f"127.0.0.1:{game.port}")])

    program = start(prefix, install_dir, [] if dialog == SERVER_DIALOG else SILENT)
    window, _ = robot.wait(dialog)
    assert robot.click(window, CANCEL) if press == "cancel" else robot.ask(press, window) == []

    assert (robot.dismiss_boxes(program), program.wait()) == ([], exit_code)
    assert questions is None or len(game.questions) == questions
