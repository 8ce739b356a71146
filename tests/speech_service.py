"""A stand-in for the hosted speech service, on 127.0.0.1, answering what the real SDK asks at the first
pull of a chunk sequence: the voice list (to find "tsample" by name) and the streamed speech request,
whose audio goes out with HTTP/1.1 chunked transfer encoding, one HTTP chunk per audio chunk.

It serves a bounded number of requests and stops by itself after a while, so a test that loses track
of it cannot hang the run.
"""

from __future__ import annotations

import json
import threading
from collections.abc import Iterable
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

VOICE_ID = "tsampleVoice00000001"  # 20 letters and digits: what the SDK takes for a voice id
REFUSALS = {
    # What the service says, and the status that the SDK turns into its exception class.
    "no key": "needs_authorization",
    "wrong key": "invalid_api_key",
    "quota": "quota_exceeded",
}
MOST_REQUESTS = 8
LIFETIME = 60.0
HOLD_BACK = 5.0  # how long a chunk waits for the client to take the one before
NOT_HTTP = b"SSH-2.0-OpenSSH_9.2\r\n"  # what a service address pointing at the wrong port may get


class SpeechService:
    """chunks: the audio chunks to stream, any iterable; key: the only key accepted; refusal: one of
    REFUSALS, given to every request; cut_after: the stream is cut after so many chunks; stall_after:
    the stream stops after so many chunks with the connection left open; hold_back: each chunk is sent
    only once received() says the client has taken the previous one; reply: "http", or "nothing" to
    accept connections and never answer, or "not http" to answer with a line of another protocol;
    voice_listed: whether the voice list holds "tsample"."""

    def __init__(
        self,
        chunks: Iterable[bytes],
        key: str = "right-key",
        refusal: str | None = None,
        cut_after: int | None = None,
        stall_after: int | None = None,
        hold_back: bool = False,
        reply: str = "http",
        voice_listed: bool = True,
    ) -> None:
        self.chunks, self.key, self.refusal, self.cut_after, self.hold_back = chunks, key, refusal, cut_after, hold_back
        self.stall_after, self.reply, self.voice_listed = stall_after, reply, voice_listed
        self.requests: list[dict] = []
        self.taken = threading.Semaphore(0)
        self.closing = threading.Event()
        self.gave_up = False
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), self._handler())
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/v1"

    def received(self) -> None:
        """The client has a chunk in hand: the next one may go."""
        self.taken.release()

    def __enter__(self) -> SpeechService:
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.timer = threading.Timer(LIFETIME, self.server.shutdown)
        self.timer.daemon = True
        self.timer.start()
        return self

    def __exit__(self, *exc: object) -> None:
        self.closing.set()
        self.timer.cancel()
        self.server.shutdown()
        self.server.server_close()

    def _handler(self) -> type[BaseHTTPRequestHandler]:
        service = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args: object) -> None:
                pass

            def handle(self) -> None:
                if service.reply == "nothing":
                    service.closing.wait(LIFETIME)
                elif service.reply == "not http":
                    self.wfile.write(NOT_HTTP)
                else:
                    super().handle()

            def do_GET(self) -> None:  # noqa: N802 - the server's own name
                if self.admitted():
                    name = "tsample" if service.voice_listed else "another"
                    self.send_json(200, {"voices": [{"voice_id": VOICE_ID, "name": name}]})

            def do_POST(self) -> None:  # noqa: N802
                if self.admitted():
                    self.stream_audio()

            def admitted(self) -> bool:
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                service.requests.append(
                    {
                        "method": self.command,
                        "path": self.path.split("?")[0],
                        "key": self.headers.get("xi-api-key"),
                        "body": json.loads(body) if body else None,
                    }
                )
                if len(service.requests) > MOST_REQUESTS:
                    service.server.shutdown_request(self.request)
                    return False
                status = service.refusal
                if status is None and self.headers.get("xi-api-key") is None:
                    status = "no key"
                elif status is None and self.headers.get("xi-api-key") != service.key:
                    status = "wrong key"
                if status is None:
                    return True
                self.send_json(401, {"detail": {"status": REFUSALS[status], "message": f"refused: {status}"}})
                return False

            def send_json(self, code: int, value: object) -> None:
                body = json.dumps(value).encode()
                self.send_response(code)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def stream_audio(self) -> None:
                self.send_response(200)
                self.send_header("Content-Type", "audio/mpeg")
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for count, chunk in enumerate(service.chunks):
                    if count == service.cut_after:
                        self.close_connection = True
                        return
                    if count == service.stall_after:
                        service.closing.wait(LIFETIME)
                        return
                    if count and service.hold_back and not service.taken.acquire(timeout=HOLD_BACK):
                        service.gave_up = True
                        self.close_connection = True
                        return
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                    self.wfile.flush()
                self.wfile.write(b"0\r\n\r\n")

        return Handler


def pull_all(service: SpeechService, audio_stream: object) -> dict:
    """Pulls a chunk sequence to its end, telling the service of each chunk taken; what came, and the
    error that ended it, if any, with whether the sequence was finished after it."""
    outcome: dict = {"chunks": [], "error": None}
    try:
        for chunk in audio_stream:  # type: ignore[attr-defined]
            outcome["chunks"].append(chunk.decode("latin-1"))
            service.received()
    except Exception as error:  # noqa: BLE001 - which error it is, is the outcome
        outcome["error"] = f"{type(error).__module__}.{type(error).__qualname__}"
        outcome["finished_after"] = next(audio_stream, "ended") == "ended"  # type: ignore[call-overload]
    return outcome


def play_all(audio: object, audio_stream: object) -> dict:
    """Plays a chunk sequence with stream(); what it returned or raised, and the children left after."""
    from player_watch import children

    outcome: dict = {"played": None, "error": None}
    try:
        outcome["played"] = audio.stream(audio_stream).decode("latin-1")  # type: ignore[attr-defined]
    except Exception as error:  # noqa: BLE001 - which error it is, is the outcome
        outcome["error"] = f"{type(error).__module__}.{type(error).__qualname__}"
    outcome["children_left"] = len(children())
    return outcome


def speak_once(settings: dict) -> dict:
    """In a fresh interpreter: the service started, the SDK pointed at it by ELEVEN_BASE_URL before it
    is imported, one sequence of settings["text"] pulled to its end, or played when settings["play"]."""
    import os

    service_settings = {**settings["service"], "chunks": [c.encode("latin-1") for c in settings["service"]["chunks"]]}
    with SpeechService(**service_settings) as service:
        os.environ["ELEVEN_BASE_URL"] = service.url
        import ardo_old.audio

        audio_stream = ardo_old.audio.get_audio_stream(settings["text"])
        asked_before = len(service.requests)
        if settings.get("play"):
            outcome = play_all(ardo_old.audio, audio_stream)
        else:
            outcome = pull_all(service, audio_stream)
        return {**outcome, "asked_before": asked_before, "requests": service.requests, "gave_up": service.gave_up}


def main() -> None:
    import sys

    print(json.dumps(speak_once(json.load(sys.stdin))))
