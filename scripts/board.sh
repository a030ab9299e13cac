#!/usr/bin/env bash
# Orvel's board in the browser: starts a local server for the page in web/,
# which runs one engine process per game, and prints the URL to open.
#   scripts/board.sh [--port N] [--host H] [--engine PATH]
# The engine defaults to build/pbrain-orvel, the host to 127.0.0.1. Needs
# only Python 3: $PYTHON, else python3.
set -euo pipefail
exec "${PYTHON:-python3}" "$(dirname "$0")/../web/server.py" "$@"
