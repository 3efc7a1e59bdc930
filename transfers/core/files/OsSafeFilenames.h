#pragma once

#include "core/base/FvTransfersExport.h"

#include <string>

namespace fv_transfers {
namespace os_safe_filenames {

// Makes one file name safe to create: each of ^ / ? < > : * | " and each control character
// becomes a space, so the length is kept; other bytes (UTF-8 sequences, the backslash) stay.
// A name that is only "." or ".." has its dots turned into "_": it would name a folder.
FV_TRANSFERS_API void replaceUnsafeChars(std::string& name);
// The same on wide text; a value that is not a Unicode code point also becomes a space.
FV_TRANSFERS_API void replaceUnsafeChars(std::wstring& name);

// Makes a path that came from outside safe to join under a folder. Both "/" and "\" separate
// segments on input, "/" joins them on output. The result is always relative: a leading
// drive, network host or separator is dropped. "." and empty segments are dropped; ".." takes
// back the segment before it and is dropped when there is none, so the result never climbs
// out of the folder it is joined to. Each segment is sanitised as by replaceUnsafeChars.
// A trailing separator (a folder) is kept. Empty when nothing usable remains.
FV_TRANSFERS_API void replaceUnsafeCharsInPath(std::string& path);
FV_TRANSFERS_API void replaceUnsafeCharsInPath(std::wstring& path);

} // namespace os_safe_filenames
} // namespace fv_transfers
