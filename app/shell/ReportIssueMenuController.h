#pragma once

#include "shell/AlertDialog.h"
#include "shell/AppGlobalObjects.h"
#include "shell/DataKinds.h"
#include "shell/IssueCreateProgressDialog.h"
#include "shell/ReportIssueDialog.h"
#include "shell/ReportSender.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;
class IUiTaskQueue;

// The "submit app logs" road: the report dialog, the files that go with a report (the local
// transfers database, the logs for a report, the settings file), the sender, a progress dialog
// until the result, and the alert that tells the user. Every call but onReportResult is made on
// the UI thread; the result reaches it through the UI task queue, so no dialog is touched from
// the sender's thread.
class ReportIssueMenuController : public IReportIssueDialog::ICallback {
public:
    static constexpr const char* kFailureText = "Error happened while uploading the logs.";
    static constexpr const char* kSuccessText =
        "App logs have been uploaded successfully. You should now receive a follow up email.";

    // The platform's dialogs and the help desk's sender, made anew for each report.
    struct Parts {
        std::function<std::unique_ptr<IReportIssueDialog>(IReportIssueDialog::ICallback*, INativeUiDataHolder*)>
            reportDialog = createReportIssueDialog;
        std::function<std::unique_ptr<IIssueCreateProgressDialog>(INativeUiDataHolder*)> progressDialog =
            createIssueCreateProgressDialog;
        std::function<std::unique_ptr<IAlertDialog>()> alertDialog = createAlertDialog;
        std::function<std::unique_ptr<IReportSender>()> sender = createReportSender;
    };

    // `parent` (the main window) and `queue` are borrowed and outlive the controller.
    ReportIssueMenuController(const AppGlobalObjects& globalObjects, INativeUiDataHolder* parent, IUiTaskQueue& queue);
    ReportIssueMenuController(const AppGlobalObjects& globalObjects, INativeUiDataHolder* parent, IUiTaskQueue& queue,
                              Parts parts);
    // Waits for a report still being sent; its result is then dropped.
    ~ReportIssueMenuController() override;
    ReportIssueMenuController(const ReportIssueMenuController&) = delete;
    ReportIssueMenuController& operator=(const ReportIssueMenuController&) = delete;

    // A new report dialog over the main window, shown modally; nothing while one is shown.
    void showReportIssueDialog();
    // From inside the report dialog's Submit: lists the files, starts the report and waits for
    // its result in the progress dialog. A failure to list the files is the error alert.
    void onReportSubmitted(const std::string& userName, const std::string& email, const std::string& summary,
                           const std::string& description) override;
    // Any thread: the sender's result, stored and then told on the UI thread.
    void onReportResult(int result);

    // The files of the data kinds a report takes, each once, in the order of its kinds.
    static std::list<std::string> reportFiles(const std::function<DataKindFiles(int kind)>& listKind);

private:
    bool listReportFiles(std::list<std::string>& files) const;
    bool waitForResult(int& result);
    void closeProgressWhenDone();
    void alert(const char* text, int type, INativeUiDataHolder* over) const;

    INativeUiDataHolder* m_parent;
    std::unique_ptr<IReportIssueDialog> m_reportDialog;
    std::unique_ptr<IIssueCreateProgressDialog> m_progressDialog; // while a report is sent
    AppGlobalObjects m_globalObjects;
    IUiTaskQueue& m_queue;
    Parts m_parts;
    // Dropped with the controller: a task posted by a late result then finds it gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    std::mutex m_mutex; // over m_waiting and m_result, which the sender's thread sets
    bool m_waiting = true;
    int m_result = 0;

    std::unique_ptr<IReportSender> m_sender; // last: ends first, waiting for its result
};

} // namespace ferrovan
