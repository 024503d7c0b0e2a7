# Run by cpack once a release's files are staged, before they are packed: writes SHA256SUMS beside them, a
# line a file as sha256sum writes it, so that "sha256sum -c SHA256SUMS" in the unpacked folder checks them all.
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${staged}" "${staged}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
    file(SHA256 "${staged}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${staged}/SHA256SUMS" "${sums}")
