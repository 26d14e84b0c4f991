#!/bin/sh
# Stands in for dmidecode: prints the bytes of $FAKE_DIR/version, or nothing.
[ "$*" = "-s bios-version" ] || { echo "fake dmidecode: unexpected arguments: $*" >&2; exit 2; }
[ -f "$FAKE_DIR/dmidecode-sleep" ] && sleep "$(cat "$FAKE_DIR/dmidecode-sleep")"
[ -f "$FAKE_DIR/version" ] && cat "$FAKE_DIR/version"
exit 0
