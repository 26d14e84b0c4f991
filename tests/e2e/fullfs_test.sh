#!/bin/bash
# -s onto a full file system: the old output script stays as it was, and nothing is left beside it.
. "$(dirname "$0")/lib.sh"

begin_case "-s onto a full file system keeps the old saved script"
mkdir "$WORK/disk"
if mount -t tmpfs -o size=256k tmpfs "$WORK/disk" 2>/dev/null; then
  MOUNTS+=("$WORK/disk")
  awk 'BEGIN { print "// Script File Name : temp.txt"
               for (i = 0; i < 8000; i++) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, i }' >"$FAKE/export"
  printf 'the old golden script\n%.0s' $(seq 1 2000) >"$WORK/disk/saved.txt"
  cp "$WORK/disk/saved.txt" "$FAKE/old"
  run_nvram -s db disk/saved.txt
  expect_status 3
  expect_stdout 'Error, cannot write file disk/saved.txt\r\n'
  expect_same_file disk/saved.txt "$FAKE/old"
  [ "$(ls -A "$WORK/disk")" = saved.txt ] || fail "disk holds $(ls -A "$WORK/disk" | tr '\n' ' ')"
  expect_same_file temp.txt "$FAKE/export"
  # With room again the same run replaces it.
  rm "$WORK/temp.txt"
  mount -o remount,size=2m "$WORK/disk"
  run_nvram -s db disk/saved.txt
  expect_status 0
  [ "$(sed -n 3p "$WORK/disk/saved.txt")" = $'Setup Question = Q0\r' ] || fail "saved.txt was not replaced"
else
  echo "SKIP: no tmpfs can be mounted here (needs root and the right to mount)"
fi

finish
