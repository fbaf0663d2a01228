#!/usr/bin/env bash
# A chat completion against GET /translate for the same cached line, and the first streamed
# byte: medians of 300 each, interleaved on one connection, printed as one line (goal: chat at
# most 1.2x translate). After a win32 build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
MIRELO_FIGURES=1 exec python3 "$root/tests/win/programs/server_test.py" "$root/build/win32/bin" \
    "$root/cmake/wine-run.sh" "$root/build/win32/wineprefix" \
    Chat.test_figures_chat_against_translate_and_the_first_streamed_byte
