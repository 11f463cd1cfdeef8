"""The Linux saver end to end on Xvfb: its own window, a given window, the
command line and the settings file."""

from __future__ import annotations

import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import (BLACK, BLUE, on_diagonals_through, saver_path, wait_until, xdotool)

# Discs are 120 twips in radius: about 8 pixels at Xvfb's 100 DPI. A disc whose
# centre is on a diagonal has no pixel farther than radius * sqrt(2) from it.
SLACK = 14
# Until the first five steps have moved them out, the tail's unplaced segments
# sit at the origin; that corner is not part of the diagonal checks.
CORNER = 30
RED = (255, 0, 0)
GREEN = (0, 255, 0)
WHITE = (255, 255, 255)


def crawlet_points(shot, color=BLUE, area=None):
    return [(x, y) for x, y in shot.points_of(color, area)
            if not (x < (area or (0, 0))[0] + CORNER and y < (area or (0, 0))[1] + CORNER)]


def outside(points, area):
    x0, y0, w, h = area
    return [(x, y) for x, y in points if not (x0 <= x < x0 + w and y0 <= y < y0 + h)]


def wait_for_color(screen, color, seconds=8.0, area=None):
    found = []

    def seen():
        found[:] = crawlet_points(screen.shot(), color, area)
        return len(found) > 0

    wait_until(seen, seconds, step=0.5)
    return found


class TestOwnWindow:
    def test_blue_crawlet_on_the_centre_diagonal_and_a_key_closes_it(self, screen, run_saver):
        saver = run_saver()
        assert wait_for_color(screen, BLUE), "no blue crawlet appeared"
        time.sleep(3)  # a few steps along its diagonal
        shot = screen.shot()
        points = crawlet_points(shot)
        assert len(points) > 200, f"only {len(points)} blue pixels"
        assert not on_diagonals_through(points, 960, 540, SLACK), "blue off the diagonals"
        # Black over the rest of the screen, the corners included.
        for x, y in ((1919, 0), (0, 1079), (1919, 1079), (1700, 100)):
            assert shot.pixel(x, y) == BLACK, (x, y)
        assert saver.running()
        xdotool(screen, "key", "space")
        assert saver.wait(5) == 0, "a key did not close the saver"

    def test_the_sixth_mouse_move_closes_it(self, screen, run_saver):
        saver = run_saver()
        assert wait_for_color(screen, BLUE)
        for n in range(5):
            xdotool(screen, "mousemove", str(300 + 40 * n), str(700))
        time.sleep(1)
        assert saver.running(), "five moves closed the saver"
        xdotool(screen, "mousemove", "900", "900")
        assert saver.wait(5) == 0, "the sixth move did not close the saver"

    # The wheel (buttons 4 and 5) ends it as a click does, as on Wayland.
    @pytest.mark.parametrize("button", ["1", "4", "5"])
    def test_a_click_or_a_wheel_turn_closes_it(self, screen, run_saver, button):
        saver = run_saver()
        assert wait_for_color(screen, BLUE)
        xdotool(screen, "click", button)
        assert saver.wait(5) == 0, f"button {button} did not close the saver"


class TestSettings:
    def test_the_file_sets_colour_and_label_and_options_override_it(self, screen, run_saver,
                                                                    config_home):
        (config_home / "quillomir").mkdir()
        (config_home / "quillomir" / "quillomir.conf").write_text(
            "[Setup]\nCrawletMethod=2\nCrawletColor=255\nDisplayValue=1\n")
        label = (16, 16, 234, 18)  # 240, 240, 3372 x 252 twips at 100 DPI
        saver = run_saver()
        assert wait_for_color(screen, RED), "the file's red crawlet did not appear"
        shot = screen.shot()
        assert shot.points_of(WHITE, label), "the label is not shown in white"
        assert not crawlet_points(shot, BLUE)
        saver.stop()

        saver = run_saver("--color", "green", "--no-show-value", "--method", "none")
        assert wait_for_color(screen, GREEN), "--color green did not win over the file"
        assert not screen.shot().points_of(WHITE, label), "--no-show-value showed the label"
        # The run's choices are not saved.
        text = (config_home / "quillomir" / "quillomir.conf").read_text()
        assert "CrawletColor=255" in text and "DisplayValue=1" in text


class TestGivenWindow:
    AREA = (200, 150, 640, 480)

    def test_draws_there_ignores_input_and_ends_on_sigterm(self, screen, run_saver, windows):
        window = windows.make(*self.AREA)
        saver = run_saver("--window-id", hex(window))
        points = wait_for_color(screen, BLUE, area=self.AREA)
        assert points, "nothing drawn in the window"
        time.sleep(2)
        shot = screen.shot()
        x0, y0, w, h = self.AREA
        points = crawlet_points(shot, BLUE, self.AREA)
        assert not on_diagonals_through(points, x0 + w / 2, y0 + h / 2, SLACK)
        assert shot.pixel(x0 + w - 2, y0 + 2) == BLACK, "the window was not blackened"
        assert not outside(shot.points_of(BLUE), self.AREA), "drew outside the window"
        assert shot.pixel(100, 100) == WHITE, "covered the screen outside the window"

        # Input belongs to whoever owns the window.
        xdotool(screen, "mousemove", str(x0 + 50), str(y0 + 50))
        for n in range(8):
            xdotool(screen, "mousemove", str(x0 + 60 + 10 * n), str(y0 + 300))
        xdotool(screen, "click", "1")
        xdotool(screen, "key", "space")
        time.sleep(1)
        assert saver.running(), "input ended the saver in a given window"

        saver.process.send_signal(signal.SIGTERM)
        assert saver.wait(5) == 0, "SIGTERM did not end it cleanly"

    def test_the_screen_savers_window_from_the_environment(self, screen, run_saver, windows):
        window = windows.make(*self.AREA)
        saver = run_saver("--root", env={"XSCREENSAVER_WINDOW": hex(window)})
        assert wait_for_color(screen, BLUE, area=self.AREA)
        shot = screen.shot()
        assert not outside(shot.points_of(BLUE), self.AREA)
        assert shot.pixel(100, 100) == WHITE, "drew on the root, not the screen saver's window"
        saver.process.send_signal(signal.SIGINT)
        assert saver.wait(5) == 0, "SIGINT did not end it cleanly"

    def test_ends_when_the_window_goes(self, screen, run_saver, windows):
        window = windows.make(*self.AREA)
        saver = run_saver("--window-id", str(window))
        assert wait_for_color(screen, BLUE, area=self.AREA)
        windows.destroy(window)
        assert saver.wait(5) == 0, "the saver outlived its window"


class TestCommandLine:
    def run(self, *args, env=None):
        return subprocess.run([str(saver_path()), *args], capture_output=True, text=True,
                              timeout=30, env=env)

    def test_help_and_version(self):
        shown = self.run("--help")
        assert shown.returncode == 0
        for option in ("--root", "--window-id", "--method", "--color", "--show-value",
                       "--config"):
            assert option in shown.stdout
        version = self.run("--version")
        assert version.returncode == 0
        assert version.stdout.strip() == "quillomir 1.0.0.8"

    def test_bad_options_give_a_message_and_status_2(self):
        for args in (["--bogus"], ["--method", "disk"], ["--color", "pink"], ["extra"],
                     ["--window-id", "zero"]):
            result = self.run(*args)
            assert result.returncode == 2, args
            assert result.stderr.startswith("quillomir: "), args
            assert "--help" in result.stderr

    def test_a_window_that_does_not_exist(self, screen):
        result = self.run("--window-id", "0x7fffff1", env={"DISPLAY": screen.display})
        assert result.returncode == 1
        assert "no window 0x7fffff1" in result.stderr

    def test_no_display(self):
        result = self.run(env={"DISPLAY": ":999"})
        assert result.returncode == 1
        assert "cannot open the X display" in result.stderr


class TestSettingsDialogHandOver:
    def test_config_runs_the_dialog_beside_the_saver(self, tmp_path):
        saver = tmp_path / "quillomir"
        shutil.copy(saver_path(), saver)
        marker = tmp_path / "ran"
        dialog = tmp_path / "quillomir-settings"
        dialog.write_text(f"#!/bin/sh\necho \"$0 $#\" > {marker}\n")
        dialog.chmod(0o755)
        result = subprocess.run([str(saver), "--config"], capture_output=True, text=True,
                                timeout=30)
        assert result.returncode == 0
        # The one beside the saver, started with no arguments.
        assert marker.read_text().split() == [str(dialog), "0"]

    def test_config_without_the_dialog_says_so(self, tmp_path):
        if Path("/usr/local/bin/quillomir-settings").exists():
            pytest.skip("a dialog is installed in /usr/local/bin")
        saver = tmp_path / "quillomir"
        shutil.copy(saver_path(), saver)
        result = subprocess.run([str(saver), "--config"], capture_output=True, text=True,
                                timeout=30, env={"XDG_CONFIG_HOME": str(tmp_path / "c")})
        assert result.returncode == 1
        assert "quillomir-settings" in result.stderr and "not installed" in result.stderr
        assert str(tmp_path / "c" / "quillomir" / "quillomir.conf") in result.stderr


def test_an_unknown_stored_method_ends_with_the_message_and_status_1(screen, run_saver,
                                                                     config_home):
    (config_home / "quillomir").mkdir()
    (config_home / "quillomir" / "quillomir.conf").write_text("[Setup]\nCrawletMethod=7\n")
    saver = run_saver()
    assert wait_for_color(screen, BLUE)
    assert saver.wait(20) == 1, "the first sample did not end the saver as a failure"
    assert "Unknown Monitor Method Type." in saver.process.stderr.read().decode()
