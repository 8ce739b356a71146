"""Headless Debian chromium, as a reader's browser: the DOM a page ends up with, and its picture."""

from __future__ import annotations

import html
import json
import os
import re
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


def pdf(page: Path) -> Path:
    """The page as the browser prints it, on its own page size (A4)."""
    printed = page.with_suffix(".pdf")
    run(page, "--no-pdf-header-footer", f"--print-to-pdf={printed}")
    return printed


def measure(page: Path, script: str, width: int = 900) -> object:
    """What ``script`` (JavaScript whose last statement sets ``result``) finds on the laid-out page,
    as JSON. The page forbids scripts, so this runs on a copy without its content security policy."""
    text = page.read_text(encoding="utf-8")
    probe = page.with_name(f"{page.stem}-measured.html")
    probe.write_text(re.sub(r'<meta http-equiv="Content-Security-Policy"[^>]*>', "", text).replace(
        "</body>", f"<script>let result; {script}; document.body.insertAdjacentHTML('beforeend', "
                   "'<pre id=\"measured\"></pre>'); document.getElementById('measured').textContent = "
                   "JSON.stringify(result);</script></body>"), encoding="utf-8")
    # The script's own text names the element too; its result is the last one, at the end of the body.
    found = re.findall(r'<pre id="measured">(.*?)</pre>', run(probe, f"--window-size={width},1400", "--dump-dom"), re.S)
    assert len(found) == 2, "the measuring script did not run"
    return json.loads(html.unescape(found[-1]))
