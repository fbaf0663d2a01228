// What the page shows of an entry before it is saved: a pattern entry tried on a sample line
// (GET /api/try-pattern, on the workbench's trial queue, since it may take its whole step
// budget) and a name put into a sample line with its particles made to agree (GET
// /api/preview, on the I/O thread: it is short). Pure: no lock, no file.
#pragma once

#include <string>
#include <string_view>

#include "workbench_api.h"

namespace server {

// The line the plug-in would make of the query's `sample` with its `kind`, `from` and `to`
// entry, what it replaced, or why the plug-in would leave the entry out.
WebAnswer TryPattern(std::string_view query);
// The sample line with each "{}" made the name, and the particle after it made to agree.
std::string PreviewParticles(std::string_view sample, const std::string& name);

}  // namespace server
