"""Headless Debian chromium, as a reader's browser: the DOM a page ends up with, and its picture."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest


def chromium() -> str:
    """The browser; in CI its absence fails the test, elsewhere it skips it."""
    path = shutil.which("chromium")
    if path is None:
        message = "chromium is not installed (scripts/install-test-tools installs it)"
        if os.environ.get("CI") == "true":
            pytest.fail(message)
        pytest.skip(message)
    return path


def run(page: Path, *options: str) -> str:
    # Root needs --no-sandbox; a profile of its own keeps parallel runs apart.
    profile = page.parent / f".chromium-{page.stem}"
    # The sanitized suite preloads its runtimes into the interpreter; the browser must not get them.
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    result = subprocess.run(
        [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
         f"--user-data-dir={profile}", *options, page.resolve().as_uri()],
        capture_output=True, text=True, timeout=120, env=environment)
    assert result.returncode == 0, result.stderr
    return result.stdout


def dom(page: Path) -> str:
    """The page's DOM once it has loaded and any script of it has run, serialised."""
    return run(page, "--dump-dom")


def screenshot(page: Path, width: int = 900, height: int = 1400) -> Path:
    picture = page.with_suffix(".png")
    run(page, f"--window-size={width},{height}", f"--screenshot={picture}")
    return picture
