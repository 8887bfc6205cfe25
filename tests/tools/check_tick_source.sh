#!/usr/bin/env bash
# Fails when a plug-in imports GetTickCount or GetTickCount64: its deadlines,
# poll periods and line silences must come from the platform tick (the
# performance counter), since GetTickCount moves in steps of about 16 ms on
# Windows whatever the timer resolution.
set -u
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
status=0
count=0
for binary in "$@"; do
  [ -f "$binary" ] || continue
  count=$((count + 1))
  if "$objdump" -p "$binary" | grep -Eq '[[:space:]]GetTickCount(64)?$'; then
    echo "FAIL: $binary imports GetTickCount"
    status=1
  fi
done
if [ "$count" -eq 0 ]; then
  echo "FAIL: no plug-ins found"
  exit 1
fi
echo "checked $count plug-ins"
exit $status
