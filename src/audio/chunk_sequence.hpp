// The lazy sequence of speech chunks that get_audio_stream returns. It behaves as the host's generator
// for `for chunck in elevenlabs.generate(...): yield chunck` would: iteration, send, throw and close,
// with the service called on the first pull only.
#pragma once

#include "host/ref.hpp"

namespace audio {

// Makes the sequence type for `module` and registers it as a collections.abc.Generator.
host::Ref new_chunk_sequence_type(PyObject* module);

// A not yet started sequence that will speak `llm`.
host::Ref new_chunk_sequence(PyObject* type, PyObject* llm);

}  // namespace audio
