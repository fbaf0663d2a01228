// The workbench page's files, compiled into the program from programs/server/workbench/.
#pragma once

#include <cstddef>

namespace server {

struct EmbeddedFile {
    const char* path;  // "/index.html", "/app.js", ...
    const char* type;  // Content-Type
    const char* data;
    std::size_t size;
};

extern const EmbeddedFile kWorkbenchFiles[];
extern const std::size_t kWorkbenchFileCount;

}  // namespace server
