#pragma once

#include <cstdint>
#include <string>

namespace fv_transfers {

// HRESULT-style results of urlToLocalPath: 0 is success, every failure is negative.
namespace hresult {
constexpr std::int32_t ok = 0;
constexpr std::int32_t invalid_argument = static_cast<std::int32_t>(0x80070057u); // not a local file URL
constexpr std::int32_t bad_net_path = static_cast<std::int32_t>(0x80070035u);     // a file on another host
} // namespace hresult

inline bool succeeded(std::int32_t result)
{
    return result >= 0;
}

// The absolute local path of a "file:" URL, percent-decoded: "file:///abs", "file:/abs" and
// "file://localhost/abs". Other schemes and hosts, user info, ports, queries, fragments, NUL
// bytes and paths that are not UTF-8 are refused. path is set only on success.
std::int32_t urlToLocalPath(const std::wstring& url, std::wstring& path);

} // namespace fv_transfers
