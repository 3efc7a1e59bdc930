#include "shell/ReportIssueMenuController.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"
#include "shell/NativeUiDataHolder.h"
#include "shell/UiTaskQueue.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace ferrovan {

namespace {

const int kReportKinds[] = {kLocalDatabase, kLogsForReport, kSettings};

void logReport(Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, "ferrovan::ReportIssueMenuController::" + text);
}

} // namespace

ReportIssueMenuController::ReportIssueMenuController(const AppGlobalObjects& globalObjects, INativeUiDataHolder* parent,
                                                     IUiTaskQueue& queue)
    : ReportIssueMenuController(globalObjects, parent, queue, Parts())
{
}

ReportIssueMenuController::ReportIssueMenuController(const AppGlobalObjects& globalObjects, INativeUiDataHolder* parent,
                                                     IUiTaskQueue& queue, Parts parts)
    : m_parent(parent), m_globalObjects(globalObjects), m_queue(queue), m_parts(std::move(parts))
{
}

ReportIssueMenuController::~ReportIssueMenuController()
{
    // Before the members its result touches end.
    m_sender.reset();
}

void ReportIssueMenuController::showReportIssueDialog()
{
    // Replacing the dialog while it runs would pull it from under its own loop.
    if (m_reportDialog && m_reportDialog->getNativeWindow() != nullptr)
        return;
    m_reportDialog = m_parts.reportDialog(this, m_parent);
    m_reportDialog->showModal();
}

void ReportIssueMenuController::onReportSubmitted(const std::string& userName, const std::string& email,
                                                  const std::string& summary, const std::string& description)
{
    std::list<std::string> files;
    if (!listReportFiles(files)) {
        alert(kFailureText, kErrorAlert, m_parent);
        return;
    }
    // A report whose progress dialog ended early is waited for here; its result was only logged.
    m_sender.reset();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting = true;
        m_result = 0;
    }
    m_progressDialog = m_parts.progressDialog(m_reportDialog.get());
    m_sender = m_parts.sender();
    m_sender->send(files, ReportForm{userName, email, summary, description},
                   [this](int result) { onReportResult(result); });

    int result = 0;
    if (!waitForResult(result)) {
        logReport(Poco::Message::PRIO_WARNING, "onReportSubmitted: The progress ended before the report's result");
        return;
    }
    if (result != 0)
        alert(kFailureText, kErrorAlert, m_parent);
    else
        alert(kSuccessText, kInformationAlert, m_reportDialog.get());
}

void ReportIssueMenuController::onReportResult(int result)
{
    logReport(result == 0 ? Poco::Message::PRIO_INFORMATION : Poco::Message::PRIO_ERROR,
              "onReportResult: " + std::to_string(result));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting = false;
        m_result = result;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_queue.post([this, alive] {
        if (alive.lock())
            closeProgressWhenDone();
    });
}

std::list<std::string> ReportIssueMenuController::reportFiles(const std::function<DataKindFiles(int kind)>& listKind)
{
    std::list<std::string> files;
    for (int kind : kReportKinds)
        for (const auto& file : listKind(kind))
            if (std::find(files.begin(), files.end(), file.first) == files.end())
                files.push_back(file.first);
    return files;
}

bool ReportIssueMenuController::listReportFiles(std::list<std::string>& files) const
{
    try {
        const DataKinds kinds(m_globalObjects, CFerrovanLogger::getInstance());
        files = reportFiles([&kinds](int kind) { return kinds.listFiles(kind); });
        return true;
    } catch (const std::exception& e) {
        logReport(Poco::Message::PRIO_ERROR, "listReportFiles: " + exceptionText(e));
    } catch (...) {
        logReport(Poco::Message::PRIO_ERROR, "listReportFiles: unknown exception");
    }
    return false;
}

// The progress dialog only while the result is still out: a result in before it would show
// leaves nobody to close it. Whether a result came, not its code, decides what the user is told.
bool ReportIssueMenuController::waitForResult(int& result)
{
    bool waiting = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        waiting = m_waiting;
    }
    if (waiting)
        m_progressDialog->showModal();
    m_progressDialog.reset();

    std::lock_guard<std::mutex> lock(m_mutex);
    result = m_result;
    return !m_waiting;
}

void ReportIssueMenuController::closeProgressWhenDone()
{
    {
        // A result left over from an earlier report must not end this one's progress.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_waiting)
            return;
    }
    if (m_progressDialog)
        m_progressDialog->close();
}

void ReportIssueMenuController::alert(const char* text, int type, INativeUiDataHolder* over) const
{
    m_parts.alertDialog()->show(text, type, over);
}

} // namespace ferrovan
