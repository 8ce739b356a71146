"""Every module of the package loads and works in an interpreter with its own GIL, which refuses an
extension module that does not declare it keeps its state per interpreter."""

from __future__ import annotations

import subprocess
import sys

import pytest

from audio_fakes import FAKE_SDK

# Run in a child process, so that a module failing there cannot take the test run with it.
CHILD = """
import sys
try:
    import _interpreters as interpreters
    interpreter = interpreters.create()
except ImportError:
    import _xxsubinterpreters as interpreters
    interpreter = interpreters.create(isolated=True)
failure = interpreters.run_string(interpreter, sys.argv[1])  # 3.13 returns what failed, 3.12 raises it
if failure is not None:
    raise SystemExit(str(failure))
"""

SAMPLE_DB = "str(resources.files('ardo_old') / 'data' / 'sample.db')"


@pytest.mark.parametrize("code", [
    "from importlib import resources; from types import SimpleNamespace; import json\n"
    "from ardo_old.mind import mind\n"
    "answers = json.loads((resources.files('ardo_old') / 'data' / 'sample_answers.json').read_text())\n"
    f"report = mind(SimpleNamespace(client_id=1, user_responses=answers, sqlite_database={SAMPLE_DB}))\n"
    "assert report['Personality_Type']['title'] == 'INFJ', report",
    "from importlib import resources; from ardo_old._check import check_database\n"
    f"assert {{p[0] for p in check_database({SAMPLE_DB})}} == {{'note', 'warning'}}",
    "from ardo_old.args import Args; assert Args(fps=30).fps == 30",
    f"import sys; sys.path.insert(0, {str(FAKE_SDK)!r}); from ardo_old.audio import get_audio_stream",
    "import array; from ardo_old.psychometrics import reliability\n"
    "items = memoryview(array.array('b', [1, 2, 2, 3, 3, 4])).cast('b', shape=[3, 2])\n"
    "assert reliability(items)['scale']['alpha'] == 1.0",
], ids=["mind", "_check", "args", "audio", "psychometrics"])
def test_module_in_an_interpreter_of_its_own(code: str) -> None:
    done = subprocess.run([sys.executable, "-c", CHILD, code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
