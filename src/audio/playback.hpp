// Playing a chunk sequence through the external mpv player, fed on its standard input.
#pragma once

#include "host/ref.hpp"

namespace audio {

// What playing keeps of the chunks once they reached the player.
enum class Played {
  kept,     // all of them, joined, returned as stream() returns them
  dropped,  // nothing: the chunk at hand is all that is held, however long the sequence runs
};

// Plays every chunk of `audio_stream` as it arrives and, once the player has exited, returns the bytes
// played (Played::kept) or None (Played::dropped). The player is started through the `subprocess`
// that `module` holds at the time.
host::Ref play(PyObject* module, PyObject* audio_stream, Played played);

}  // namespace audio
