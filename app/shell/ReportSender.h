#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

namespace ferrovan {

// The four texts of the report form.
struct ReportForm {
    std::string userName;
    std::string email;
    std::string summary;
    std::string description;
};

// One report on its way to the help desk.
class IReportSender {
public:
    // Returns only once a report still running has handed its result on.
    virtual ~IReportSender() = default;
    // Starts the report (once per sender) and returns. `onResult` gets 0 when the help desk took
    // it, else the failure, exactly once and on any thread: also this one, before send returns.
    virtual void send(const std::list<std::string>& files, const ReportForm& form,
                      std::function<void(int result)> onResult) = 0;
};

// To the program's help desk (FV_HELPDESK_URL).
std::unique_ptr<IReportSender> createReportSender();

} // namespace ferrovan
