#pragma once

namespace ferrovan {

class IGlobalProgressBar;

// Interface 8 of a query handler: the handler drives the dock's progress bar for the page.
class IProgressBarBridge {
public:
    // Not owned; null until the host hands the bar over.
    virtual void setProgressBar(IGlobalProgressBar* bar) = 0;

protected:
    ~IProgressBarBridge() = default;
};

} // namespace ferrovan
