// Faults the stand-in engine raises when its script asks for one.
#pragma once

#include "script.h"

namespace standin {

// Raises `fault` on this thread, as a compiled engine would run into it. Returns only for
// Fault::Handled, whose exception is caught by a handler of its own on the way.
void RaiseFault(Fault fault);

}  // namespace standin
