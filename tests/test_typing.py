"""The type stubs: a host program passes mypy --strict, mistakes fail it, and the stubs match the modules."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

from audio_fakes import FAKE_SDK

pytest.importorskip("mypy", reason="mypy is not installed")

REPO = Path(__file__).parents[1]
TYPING = REPO / "tests" / "typing"
STUBBED_MODULES = ["ardo_old.mind", "ardo_old.cohort", "ardo_old.audio", "ardo_old.args", "ardo_old._check",
                   "ardo_old._speech", "ardo_old.psychometrics"]


def run_python(args: list[str], cwd: Path, pythonpath: list[Path]) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(map(str, pythonpath)))
    return subprocess.run([sys.executable, *args], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=300)


@pytest.mark.parametrize("program", ["host_program.py", "misuse.py"])
def test_mypy_strict_accepts_the_host_program_and_needs_every_expected_error(program, tmp_path):
    # misuse.py marks each mistake with the error it must cause; --strict fails on an ignore no error needs.
    done = run_python(["-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(TYPING / program)],
                      cwd=tmp_path, pythonpath=[])
    assert done.returncode == 0, done.stdout + done.stderr


def test_the_package_itself_passes_mypy_strict(tmp_path):
    # From the source tree, with the settings of pyproject.toml for the optional extras.
    done = run_python(["-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), "src/ardo_old"],
                      cwd=REPO, pythonpath=[])
    assert done.returncode == 0, done.stdout + done.stderr


def test_host_program_imports_at_run_time(tmp_path):
    done = run_python(["-c", "import host_program"], cwd=tmp_path, pythonpath=[TYPING, FAKE_SDK])
    assert done.returncode == 0, done.stderr


def test_stubs_match_the_built_modules(tmp_path):
    # Importing ardo_old.audio needs the speech packages; the stand-ins serve.
    done = run_python(["-m", "mypy.stubtest", *STUBBED_MODULES],
                      cwd=tmp_path, pythonpath=[FAKE_SDK])
    assert done.returncode == 0, done.stdout + done.stderr
