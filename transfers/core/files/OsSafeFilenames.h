#pragma once

#include "core/base/FvTransfersExport.h"

#include <cstddef>
#include <string>

namespace fv_transfers {
namespace os_safe_filenames {

// The longest file or folder name, in UTF-8 bytes, that file systems accept.
const std::size_t kMaxNameBytes = 255;

// Makes one file name safe to create: each of ^ / ? < > : * | " and each control character
// becomes a space; other bytes (UTF-8 sequences, the backslash) stay. A name longer than
// kMaxNameBytes (less `reservedSuffixBytes`, room for a suffix the caller adds, such as a
// temporary name's, in the overloads below) in UTF-8 is cut at a character boundary before its extension, which is
// kept unless it alone leaves no room. A name that is only "." or ".." has its dots turned
// into "_": it would name a folder.
FV_TRANSFERS_API void replaceUnsafeChars(std::string& name);
// The same on wide text; a value that is not a Unicode code point also becomes a space.
FV_TRANSFERS_API void replaceUnsafeChars(std::wstring& name);

// Makes a path that came from outside safe to join under a folder. Both "/" and "\" separate
// segments on input, "/" joins them on output. The result is always relative: a leading
// drive, network host or separator is dropped. "." and empty segments are dropped; ".." takes
// back the segment before it and is dropped when there is none, so the result never climbs
// out of the folder it is joined to. Each segment is sanitised and shortened as by
// replaceUnsafeChars; `reservedSuffixBytes` applies to the last one unless the path names a
// folder. A trailing separator (a folder) is kept. Empty when nothing usable remains.
FV_TRANSFERS_API void replaceUnsafeCharsInPath(std::string& path);
FV_TRANSFERS_API void replaceUnsafeCharsInPath(std::wstring& path);

// The same, keeping room for a suffix; used inside the library only, so the exported
// signatures above stay as they are.
void replaceUnsafeChars(std::string& name, std::size_t reservedSuffixBytes);
void replaceUnsafeChars(std::wstring& name, std::size_t reservedSuffixBytes);
void replaceUnsafeCharsInPath(std::string& path, std::size_t reservedSuffixBytes);
void replaceUnsafeCharsInPath(std::wstring& path, std::size_t reservedSuffixBytes);

} // namespace os_safe_filenames
} // namespace fv_transfers
