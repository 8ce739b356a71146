"""Stand-in for the ElevenLabs SDK: records what it is asked and reaches no service.

FAKE_SET_API_KEY_FAILS=1 makes set_api_key raise, as the SDK does for a key it cannot take.
"""

import os

from fake_events import events

events.append(("import", "elevenlabs"))


def set_api_key(api_key):
    events.append(("set_api_key", api_key))
    if os.environ.get("FAKE_SET_API_KEY_FAILS"):
        raise TypeError("str expected, not NoneType")


def generate(**options):
    events.append(("generate", options))
    return iter([b"speech"])
