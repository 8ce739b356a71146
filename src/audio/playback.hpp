// Playing a chunk sequence through the external mpv player, fed on its standard input.
#pragma once

#include "host/ref.hpp"

namespace audio {

// Plays every chunk of `audio_stream` as it arrives and returns all the bytes played, once the player
// has exited. The player is started through the `subprocess` that `module` holds at the time.
host::Ref play(PyObject* module, PyObject* audio_stream);

}  // namespace audio
