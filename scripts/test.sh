#!/usr/bin/env bash
# Installs what is missing, checks the format, builds, and runs every test: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer; the browser tests also under ThreadSanitizer.
# Fails on any failing test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
exec make format-check test-release test-asan test-tsan
