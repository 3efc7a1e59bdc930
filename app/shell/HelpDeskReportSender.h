#pragma once

#include "shell/ReportSender.h"

#include "core/helpdesk/ZendeskRequestCreator.h"

#include <functional>
#include <string>

namespace ferrovan {

// The transfer library's report creator: the files zipped into one attachment of a help-desk
// request. The creator calls back on the report's own thread and must not be destroyed from
// there, so it lives as long as this sender, whose owner ends it on its own thread.
class HelpDeskReportSender : public IReportSender, private fv_transfers::CZendeskRequestCreator::ICallback {
public:
    // `helpDeskUrl`: "http(s)://host[:port]"; anything else is logged and the library's own
    // address used.
    explicit HelpDeskReportSender(const std::string& helpDeskUrl);
    ~HelpDeskReportSender() override;
    HelpDeskReportSender(const HelpDeskReportSender&) = delete;
    HelpDeskReportSender& operator=(const HelpDeskReportSender&) = delete;

    void send(const std::list<std::string>& files, const ReportForm& form,
              std::function<void(int result)> onResult) override;

private:
    void onReportResult(fv_transfers::dt_error result) override;

    // Set before the report starts, read by its thread only.
    std::function<void(int)> m_onResult;
    fv_transfers::CZendeskRequestCreator m_creator; // last: ends first, waiting for the report
};

} // namespace ferrovan
