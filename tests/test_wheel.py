"""The wheel: one abi3 build that installs into fresh environments of 3.12 and later and scores there.

Building takes a while, so the wheel is built once per session, or taken from ARDO_WHEEL when
scripts/test has built it already.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import sysconfig
import zipfile
from pathlib import Path

import pytest

import ardo_old

pytestmark = pytest.mark.slow

REPO = Path(__file__).resolve().parent.parent
REPORT_KEYS = ["client_id", "Personality_Type", "vak", "Emotional_Intelligance", "Roles", "Traits", "Spaces"]
EXTENSIONS = ["mind", "audio", "args", "_check", "_speech", "psychometrics"]


@pytest.fixture(scope="session")
def wheel(tmp_path_factory) -> Path:
    if given := os.environ.get("ARDO_WHEEL"):
        return Path(given)
    out = tmp_path_factory.mktemp("wheel")
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--quiet", "--no-deps", "-w", str(out), str(REPO)],
                   check=True, timeout=1200)
    [built] = out.iterdir()
    return built


def test_wheel_is_one_build_for_cpython_3_12_and_later(wheel):
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert wheel.name == f"ardo_old-{ardo_old.__version__}-cp312-abi3-{platform}.whl"


def test_wheel_holds_the_modules_their_stubs_and_the_sample_data(wheel):
    names = set(zipfile.ZipFile(wheel).namelist())
    expected = {f"ardo_old/{name}.abi3.so" for name in EXTENSIONS} | {f"ardo_old/{name}.pyi" for name in EXTENSIONS}
    expected |= {"ardo_old/py.typed", "ardo_old/mind_types.py", "ardo_old/cli.py", "ardo_old/__main__.py",
                 "ardo_old/data/sample.db", "ardo_old/data/sample_answers.json", "ardo_old/report_html.py",
                 "ardo_old/_cohort_summary.py",
                 *(f"ardo_old/templates/{page}.html.j2" for page in ("base", "macros", "report", "index", "index_rows"))}
    assert expected <= names


def interpreter(version: str) -> str:
    found = subprocess.run(["bash", str(REPO / "scripts" / "find-python"), version], capture_output=True, text=True)
    if found.returncode != 0:
        pytest.skip(f"no Python {version} here")
    return found.stdout.strip()


@pytest.mark.parametrize("version", ["3.12", "3.13"])
def test_wheel_installs_into_a_fresh_environment_and_scores_the_sample_client(wheel, version, tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([interpreter(version), "-m", "venv", str(venv)], check=True, timeout=300)
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps", str(wheel)],
                   check=True, timeout=300)

    # From an empty folder, so nothing but the installed package can answer.
    scored = subprocess.run([python, "-m", "ardo_old", "score"], cwd=tmp_path, capture_output=True, text=True,
                            timeout=120)
    assert scored.returncode == 0, scored.stderr
    assert list(json.loads(scored.stdout)) == REPORT_KEYS
    checked = subprocess.run([python, "-m", "ardo_old", "check"], cwd=tmp_path, capture_output=True, text=True,
                             timeout=120)
    assert checked.returncode == 0 and checked.stdout.endswith("0 errors, 30 warnings\n"), checked.stdout
