#!/usr/bin/env bash
# Sourced: starts a private Xvfb display for this shell and its children and stops it on exit.
# Windows under test never appear on a person's own display.
for n in $(seq 91 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  MIREVALE_XVFB_PID=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if kill -0 "$MIREVALE_XVFB_PID" 2>/dev/null; then
    export DISPLAY=":$n"
    trap 'kill $MIREVALE_XVFB_PID 2>/dev/null || true' EXIT
    break
  fi
done
[ -n "${MIREVALE_XVFB_PID:-}" ] && kill -0 "$MIREVALE_XVFB_PID" 2>/dev/null || { echo "could not start Xvfb" >&2; exit 1; }
