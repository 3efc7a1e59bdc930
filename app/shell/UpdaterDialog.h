#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// How the updater tells the user; called on the UI thread only.
class IUpdaterDialog {
public:
    virtual ~IUpdaterDialog() = default;
    // Offers a newer release with "Download" and "Later"; "Download" opens `downloadPage`.
    virtual void offerUpdate(const std::string& text, const std::string& downloadPage) = 0;
    virtual void showMessage(const std::string& text) = 0;
};

std::unique_ptr<IUpdaterDialog> createUpdaterDialog();

} // namespace ferrovan
