#!/bin/bash
# Stands in for the setup-control tool. Records its argument words in $FAKE_DIR/tool.log (one run
# per line, words separated by "|"), writes what the real tool writes, and exits with the code in
# $FAKE_DIR/exit (0 when absent). $FAKE_DIR/hook, when present, is sourced after the writes.
log=$(printf '%s|' "$@")
printf '%s\n' "${log%|}" >>"$FAKE_DIR/tool.log"
case "$1 $2" in
  "/o /s")
    [ -f "$FAKE_DIR/export" ] && cp "$FAKE_DIR/export" "$3"
    [ "${4-}" = "/h" ] && printf 'database\n' >"$5"
    ;;
  "/o /l")
    printf 'variables of %s\n' "$3" >"$5"
    printf 'database\n' >"$7"
    ;;
esac
[ -f "$FAKE_DIR/hook" ] && . "$FAKE_DIR/hook"
exit "$(cat "$FAKE_DIR/exit" 2>/dev/null || echo 0)"
