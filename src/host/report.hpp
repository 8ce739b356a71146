// The report tree of a scoring run as the host's own objects.
#pragma once

#include "host/ref.hpp"
#include "mind/value.hpp"

namespace host {

// Maps become dicts in entry order, lists lists, integers int, reals float, texts str, bytes bytes, null None.
Ref to_python(const mind::Value& value);

// Adds the entries of a map to an existing dict, in order.
void add_entries(PyObject* dict, const mind::Map& map);

}  // namespace host
