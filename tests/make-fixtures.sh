#!/usr/bin/env bash
# Makes what the tests need from the Linux side, where links can really be made (Wine's CreateSymbolicLinkW
# creates nothing): make-fixtures.sh DIR
set -euo pipefail
dir=$1
rm -rf "$dir"
# A test process holds its temporary folder until it ends (the launcher's code holds TEMP), so it can't
# remove that folder itself: the empty folders of the last run go here.
rm -rf "$(dirname "$dir")"/wineprefix/drive_c/users/*/Temp/kro-tests
mkdir -p "$dir/symlink-log" "$dir/dangling-log"
head -c 10485760 /dev/zero | tr '\0' 't' >"$dir/symlink-target.txt"
ln -s ../symlink-target.txt "$dir/symlink-log/vantor.log"
ln -s ../dangling-target.txt "$dir/dangling-log/vantor.log"
mkdir -p "$dir/link-tree/tree/sub" "$dir/link-tree/outside"
printf keep >"$dir/link-tree/outside/keep.txt"
printf a >"$dir/link-tree/tree/a.txt"
printf b >"$dir/link-tree/tree/sub/b.txt"
ln -s ../outside "$dir/link-tree/tree/link"
