#!/bin/sh
# Runs a link whose image time stamp is SOURCE_DATE_EPOCH where the build's environment sets it, else 0.
# GNU ld for Windows writes SOURCE_DATE_EPOCH into the header when it is set, and the time of the link when
# it is not; the value is read when the link runs, so it is the build's, not the configuration's.
# Usage: reproducible-link.sh LINK_COMMAND...
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}"
exec "$@"
