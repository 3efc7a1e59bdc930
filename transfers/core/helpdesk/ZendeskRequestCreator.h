#pragma once

#include "core/base/DtError.h"
#include "core/base/FvTransfersExport.h"

#include <future>
#include <list>
#include <mutex>
#include <string>

namespace fv_transfers {

// The help desk reports go to unless CZendeskRequestCreator::setHelpDeskUrl says otherwise.
inline constexpr const char* kDefaultHelpDeskUrl = "https://help.ferrovan.example";

// Sends a problem report to the help desk: the given files zipped into one attachment, and a
// request carrying the report form's fields. Reports run on threads of their own; several
// may run at once, each on its own private archive. No call throws.
class FV_TRANSFERS_API CZendeskRequestCreator {
public:
    class ICallback {
    public:
        // Called exactly once per report, on the report's thread: dt_success when the request
        // was created, else the first failure. Hand the result to a thread of your own, and
        // never destroy the creator from here.
        virtual void onReportResult(dt_error result) = 0;

    protected:
        ~ICallback() = default;
    };

    // `callback` may be null (the outcome is then only logged); it must outlive the creator.
    explicit CZendeskRequestCreator(ICallback* callback);
    // Waits for the reports still running.
    ~CZendeskRequestCreator();
    CZendeskRequestCreator(const CZendeskRequestCreator&) = delete;
    CZendeskRequestCreator& operator=(const CZendeskRequestCreator&) = delete;

    // "http(s)://host[:port]" with no path, query or user info; a trailing slash is dropped.
    // False, with the URL unchanged, for anything else. Reports already started keep theirs.
    bool setHelpDeskUrl(const std::string& url);
    std::string getHelpDeskUrl() const;

    // Starts one report and returns at once, also while earlier reports still run. The files
    // are UTF-8 paths of local files; the strings are UTF-8 text from the report form. When
    // no thread can be started, the callback gets dt_general_error on the calling thread.
    void startReportCreation(const std::list<std::string>& files, const std::string& name, const std::string& email,
                             const std::string& subject, const std::string& description);
    // The same report on the calling thread; the callback runs before it returns.
    void createReport(const std::list<std::string>& files, const std::string& name, const std::string& email,
                      const std::string& subject, const std::string& description);

private:
    void report(const std::string& helpDeskUrl, const std::list<std::string>& files, const std::string& name,
                const std::string& email, const std::string& subject, const std::string& description);
    void notify(dt_error result);
    // Drops the futures of reports that have ended; never waits for a running one.
    void forgetFinishedReports();

    ICallback* const m_callback;
    mutable std::mutex m_mutex;
    std::string m_helpDeskUrl;
    std::list<std::future<void>> m_reports;
};

} // namespace fv_transfers
