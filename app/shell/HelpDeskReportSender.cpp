#include "shell/HelpDeskReportSender.h"

#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#include "AppConfig.h"

#include <utility>

namespace ferrovan {

std::unique_ptr<IReportSender> createReportSender()
{
    return std::make_unique<HelpDeskReportSender>(FV_HELPDESK_URL);
}

HelpDeskReportSender::HelpDeskReportSender(const std::string& helpDeskUrl) : m_creator(this)
{
    if (!m_creator.setHelpDeskUrl(helpDeskUrl))
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                "ferrovan::HelpDeskReportSender::HelpDeskReportSender: Unusable help desk address \"" + helpDeskUrl +
                    "\"; reporting to " + m_creator.getHelpDeskUrl());
}

HelpDeskReportSender::~HelpDeskReportSender() = default;

void HelpDeskReportSender::send(const std::list<std::string>& files, const ReportForm& form,
                                std::function<void(int result)> onResult)
{
    m_onResult = std::move(onResult);
    m_creator.startReportCreation(files, form.userName, form.email, form.summary, form.description);
}

void HelpDeskReportSender::onReportResult(fv_transfers::dt_error result)
{
    if (m_onResult)
        m_onResult(static_cast<int>(result));
}

} // namespace ferrovan
