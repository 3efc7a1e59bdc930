#pragma once

#include "browser/host/CefCallbacks.h"
#include "browser/host/CefRefPtr.h"

#include <string>
#include <vector>

namespace ferrovan {

// What is dragged over the view, as the client is told of it: local files (with their paths), a
// piece of a page, or anything else (web links, images from another program).
class CefDragDataLinux : public fvcef::CefRefCounted<fvcef::CefDragData> {
public:
    enum class Kind { File, Fragment, Other };

    // What the drag's offered types already tell before any of its data is read.
    enum class Offer { UriList, Fragment, Other };

    // A drag the view itself started is a piece of its page; otherwise a URI list decides, and
    // text without one is a fragment too.
    static Offer classify(bool fromThisView, const std::vector<std::string>& targets);
    // A text/uri-list's content: files when it names at least one entry and every entry is a
    // file on this machine, else Other.
    static fvcef::CefRefPtr<CefDragDataLinux> fromUriList(const std::string& uriList);

    explicit CefDragDataLinux(Kind kind, std::vector<std::string> paths = {});

    Kind kind() const { return m_kind; }

    bool IsFile() override;
    bool IsFragment() override;
    bool GetFileNames(std::vector<fvcef::CefString>& names) override;

private:
    ~CefDragDataLinux() override = default;

    const Kind m_kind;
    const std::vector<std::string> m_paths;
};

} // namespace ferrovan
