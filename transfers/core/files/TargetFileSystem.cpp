#include "core/files/TargetFileSystem.h"

namespace fv_transfers {

namespace {

constexpr std::size_t kMaxNameBytes = 255;

bool isContinuationByte(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string tempFileNameFor(const std::string& finalName, const std::string& tag)
{
    const std::string suffix = "." + tag + ".dl";
    std::string name = finalName;
    if (name.size() + suffix.size() > kMaxNameBytes) {
        std::size_t cut = kMaxNameBytes > suffix.size() ? kMaxNameBytes - suffix.size() : 0;
        while (cut > 0 && isContinuationByte(static_cast<unsigned char>(name[cut])))
            --cut;
        name.resize(cut);
    }
    return name + suffix;
}

std::string parentFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace fv_transfers
