"""Stand-in for python-dotenv.

FAKE_DOTENV_KEY plays a `.env` file holding ELEVEN_LAPS_API_KEY; FAKE_LOAD_DOTENV_FAILS=1 makes
loading fail.
"""

import os

from fake_events import events

events.append(("import", "dotenv"))


def load_dotenv(*args, **kwargs):
    events.append(("load_dotenv", args, kwargs))
    if os.environ.get("FAKE_LOAD_DOTENV_FAILS"):
        raise OSError("fake .env unreadable")
    if "FAKE_DOTENV_KEY" in os.environ:
        os.environ["ELEVEN_LAPS_API_KEY"] = os.environ["FAKE_DOTENV_KEY"]
    return True
