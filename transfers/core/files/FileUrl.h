#pragma once

#include <optional>
#include <string>

namespace fv_transfers {

// The absolute local path of a "file:" URL, percent-decoded: "file:///abs", "file:/abs" and
// "file://localhost/abs". Other schemes and hosts, user info, ports, queries, fragments, NUL
// bytes and paths that are not UTF-8 give no path.
std::optional<std::wstring> urlToLocalPath(const std::wstring& url);

} // namespace fv_transfers
