// File-system functions: path text, queries, file operations, folder walking and scoped deletion.
#pragma once

#include <string>

namespace FileUtils {

// Where a path lies; the launcher only tells Network from the rest.
enum PathLocation { Local = 0, Network = 1, Other = 2, Invalid = 3 };

// The last component: the text after the last backslash or slash (empty when the path ends in one).
std::wstring getFileName(const std::wstring& path);
// The folder part without trailing separators; empty when there is none ("C:\file" gives "C:").
std::wstring getDirectory(const std::wstring& path);
// The path without any trailing backslashes or slashes.
std::wstring removeTrailingSeparators(const std::wstring& path);
// folder + one backslash + name, with the folder's trailing separators and one leading separator of the name
// dropped; an empty folder or name gives the other part alone.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

// True for an existing file or folder; any failure (a denied access too) counts as absence.
bool pathExists(const std::wstring& path);
// True for an existing folder.
bool isDirectory(const std::wstring& path);
// Network for a path starting with one backslash or on a remote drive; Local for removable, fixed and RAM
// drives; Invalid for a path too short to name a drive; Other for the rest. Never fails.
PathLocation getPathLocation(const std::wstring& path);

// The 41 characters that may not appear in a name part: code points 0 to 31, then <>:"|?*/ and backslash.
std::wstring invalidFileNameChars();

}  // namespace FileUtils
