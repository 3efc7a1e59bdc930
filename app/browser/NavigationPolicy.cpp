#include "browser/NavigationPolicy.h"

#include "browser/LocalPages.h"
#include "browser/WebAppUrl.h"
#include "browser/WebOrigin.h"
#include "shell/WebUrl.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/URI.h>

#include <algorithm>

namespace ferrovan {

namespace {

enum class TargetKind {
    kUnparsable,
    kLocalPage,
    kBlank,  // about:blank, about:srcdoc
    kWeb,    // http(s) with a host
    kInline, // blob:, data:
    kOther,
};

bool isSameLocalPage(const Poco::URI& target, const std::string& localPageUrl)
{
    try {
        const Poco::URI page(localPageUrl);
        return target.getScheme() == page.getScheme() && Poco::icompare(target.getHost(), page.getHost()) == 0 &&
               target.getPath() == page.getPath();
    } catch (const Poco::Exception&) {
        return false;
    }
}

TargetKind classify(const std::string& url, const std::vector<std::string>& localPageUrls)
{
    Poco::URI target;
    try {
        target = Poco::URI(url);
    } catch (const Poco::Exception&) {
        return TargetKind::kUnparsable;
    }
    // Poco gives the scheme in lower case.
    const std::string& scheme = target.getScheme();
    if (scheme == kLocalScheme) {
        const bool listed = std::any_of(localPageUrls.begin(), localPageUrls.end(),
                                        [&](const std::string& page) { return isSameLocalPage(target, page); });
        return listed ? TargetKind::kLocalPage : TargetKind::kOther;
    }
    if (scheme == "about")
        return target.getPath() == "blank" || target.getPath() == "srcdoc" ? TargetKind::kBlank : TargetKind::kOther;
    if (scheme == "blob" || scheme == "data")
        return TargetKind::kInline;
    if (webOriginOf(url))
        return TargetKind::kWeb;
    return TargetKind::kOther;
}

NavigationDecision allowed()
{
    return {true, Poco::Message::PRIO_INFORMATION, {}};
}

NavigationDecision blocked(const std::string& url)
{
    return {false, Poco::Message::PRIO_ERROR, "Application tried to navigate to URL: " + url + ". Navigation blocked."};
}

NavigationDecision allowedInDomain(const std::string& url)
{
    return {true, Poco::Message::PRIO_WARNING,
            "Application tried to navigate to URL: " + url + ". Navigation allowed, since it's in the same domain."};
}

NavigationDecision decideAction(TargetKind kind, const NavigationRequest& request, const std::string& webAppUrl)
{
    switch (kind) {
    case TargetKind::kLocalPage:
    case TargetKind::kBlank: return allowed();
    case TargetKind::kWeb:
        if (isUnderWebApp(request.url, webAppUrl))
            return allowed();
        if (isWebAppOrigin(request.url, webAppUrl))
            return allowedInDomain(request.url);
        return request.userGesture ? blocked(request.url) : allowed();
    case TargetKind::kInline: return request.userGesture ? blocked(request.url) : allowed();
    case TargetKind::kUnparsable:
    case TargetKind::kOther: break;
    }
    return blocked(request.url);
}

// Sub-frames keep what the action stage let through; only the web application and the program's
// own pages may fill the main frame.
NavigationDecision decideResponse(TargetKind kind, const NavigationRequest& request, const std::string& webAppUrl)
{
    switch (kind) {
    case TargetKind::kLocalPage: return allowed();
    case TargetKind::kWeb:
        return !request.mainFrame || isWebAppOrigin(request.url, webAppUrl) ? allowed() : blocked(request.url);
    case TargetKind::kBlank:
    case TargetKind::kInline: return request.mainFrame ? blocked(request.url) : allowed();
    case TargetKind::kUnparsable:
    case TargetKind::kOther: break;
    }
    return blocked(request.url);
}

} // namespace

NavigationDecision decideNavigation(const NavigationRequest& request, const std::string& webAppUrl,
                                    const std::vector<std::string>& localPageUrls)
{
    const TargetKind kind = classify(request.url, localPageUrls);
    return request.stage == NavigationStage::kAction ? decideAction(kind, request, webAppUrl)
                                                     : decideResponse(kind, request, webAppUrl);
}

bool mayOpenInSystemBrowser(const std::string& url)
{
    return isWebUrl(url);
}

} // namespace ferrovan
