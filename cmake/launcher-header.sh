#!/bin/sh
# Sets the header fields of a launcher image that GNU ld has no switch for, as Microsoft's linker sets them:
# - the resource section read-only (GNU ld marks it writable): Wine maps a writable section privately and a
#   read-only one shared, and the launcher's payload is read noticeably faster from the shared mapping (25 ms
#   for 160 MB, measured);
# - IMAGE_FILE_NET_RUN_FROM_SWAP and IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP (/SWAPRUN:NET, /SWAPRUN:CD): Windows
#   copies the whole image into memory at the start when it runs from a share or removable media, instead of
#   reading its pages from there whenever they are first touched.
# The image checksum, when the linker set one, is updated for each changed word.
# Usage: launcher-header.sh IMAGE
set -eu
image=$1

# u32 OFFSET / u16 OFFSET: a little-endian number of the image.
u32() { od -An -tu4 -j "$1" -N4 "$image" | tr -d ' '; }
u16() { od -An -tu2 -j "$1" -N2 "$image" | tr -d ' '; }
# put16 OFFSET VALUE: writes a little-endian 16-bit number in place and updates the checksum for it. The
# checksum is the ones'-complement sum of the 16-bit words plus the file's length.
put16() {
    old=$(u16 "$1")
    [ "$2" -ne "$old" ] || return 0
    printf "$(printf '\\%03o\\%03o' $(($2 & 255)) $(($2 >> 8 & 255)))" |
        dd of="$image" bs=1 seek="$1" conv=notrunc 2>/dev/null
    checksum=$(u32 $((pe + 88)))
    if [ "$checksum" -ne 0 ]; then
        length=$(wc -c <"$image")
        sum=$((checksum - length + $2 + 0xFFFF - old))
        sum=$(((sum & 0xFFFF) + (sum >> 16)))
        sum=$(((sum & 0xFFFF) + (sum >> 16)))
        sum=$((sum + length))
        printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((sum & 255)) $((sum >> 8 & 255)) $((sum >> 16 & 255)) \
            $((sum >> 24 & 255)))" | dd of="$image" bs=1 seek=$((pe + 88)) conv=notrunc 2>/dev/null
    fi
}

pe=$(u32 60)
# File header characteristics: 0x0400 removable run from swap, 0x0800 net run from swap.
put16 $((pe + 22)) $(($(u16 $((pe + 22))) | 0x0C00))
sections=$(u16 $((pe + 6)))
table=$((pe + 24 + $(u16 $((pe + 20)))))
i=0
while [ "$i" -lt "$sections" ]; do
    header=$((table + 40 * i))
    if [ "$(dd if="$image" bs=1 skip="$header" count=8 2>/dev/null | tr -d '\0')" = ".rsrc" ]; then
        # The upper word of the section's flags holds IMAGE_SCN_MEM_WRITE (0x80000000).
        put16 $((header + 38)) $(($(u16 $((header + 38))) & 0x7FFF))
        exit 0
    fi
    i=$((i + 1))
done
echo "launcher-header.sh: no .rsrc section in $image" >&2
exit 1
