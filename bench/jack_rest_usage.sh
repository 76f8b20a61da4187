#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vantel-analyser measuring a JACK input (jackd's dummy driver at 48 kHz, started here under a
# name of its own) while the panel polls it over D-Bus: the CPU shares, as dbus_rest_usage.sh
# reports them.
# Usage: bench/jack_rest_usage.sh ANALYSER_BINARY DMM_BINARY [SECONDS]
set -euo pipefail
here=$(dirname "$0")
export JACK_DEFAULT_SERVER=vantel-bench-$$
export JACK_NO_START_SERVER=1
jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
trap 'kill $jackd_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
"$here/dbus_rest_usage.sh" "${1:?analyser binary}" "${2:?panel binary}" "${3:-30}" --input jack
