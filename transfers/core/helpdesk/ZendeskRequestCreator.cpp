#include "core/helpdesk/ZendeskRequestCreator.h"

#include "core/base/ExceptionText.h"
#include "core/config/AppFilesDirectory.h"
#include "core/files/ZipArchive.h"
#include "core/helpdesk/ZendeskAttachmentUploader.h"
#include "core/helpdesk/ZendeskRestCallRequest.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestEncoding.h"

#include <Poco/Path.h>
#include <Poco/URI.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fv_transfers {

namespace {

// The name the help desk shows for the attachment; the local file has a unique name.
constexpr const char* kAttachmentName = "app_files.zip";

// A report's archive: a new file only this user can read, made with mkstemps so that no
// other process can have prepared or linked the name, removed when the report ends. Logs go
// into it, so it lives in the private application folder when there is one.
class ReportArchive {
public:
    ReportArchive()
    {
        std::string folder = getAppFilesDirectory();
        if (folder.empty())
            folder = Poco::Path::temp();
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        std::string pattern = folder + "app_files-XXXXXX.zip";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemps(name.data(), 4);
        if (fd < 0) {
            FV_LOG_ERROR("Cannot create the report archive in " << folder << ": " << std::strerror(errno));
            return;
        }
        ::close(fd);
        m_path = name.data();
    }
    ~ReportArchive()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    ReportArchive(const ReportArchive&) = delete;
    ReportArchive& operator=(const ReportArchive&) = delete;

    // Empty when no file could be made.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

dt_error sendReport(const std::string& helpDeskUrl, const std::list<std::string>& files, const std::string& name,
                    const std::string& email, const std::string& subject, const std::string& description)
{
    FV_LOG_INFO("Creating an error report...");
    const ReportArchive archive;
    if (archive.path().empty() || createZipArchive(archive.path(), files) != dt_success) {
        FV_LOG_ERROR("Error compresssing files");
        return dt_general_error;
    }
    CZendeskAttachmentUploader uploader(helpDeskUrl + "/api/v2/uploads.json?filename=" + kAttachmentName,
                                        archive.path());
    std::string token;
    const dt_error uploaded = uploader.upload(token);
    if (uploaded != dt_success) {
        FV_LOG_ERROR("Error upload zip archive");
        return uploaded;
    }
    CZendeskRestCallRequest request(helpDeskUrl);
    return request.makeCall(name, email, subject, description, token);
}

} // namespace

CZendeskRequestCreator::CZendeskRequestCreator(ICallback* callback)
    : m_callback(callback), m_helpDeskUrl(kDefaultHelpDeskUrl)
{
}

CZendeskRequestCreator::~CZendeskRequestCreator()
{
    std::list<std::future<void>> reports;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reports.swap(m_reports);
    }
    for (std::future<void>& running : reports)
        running.wait();
}

bool CZendeskRequestCreator::setHelpDeskUrl(const std::string& url)
{
    try {
        std::string base = url;
        if (!base.empty() && base.back() == '/')
            base.pop_back();
        const Poco::URI uri(base);
        const bool valid = (uri.getScheme() == "https" || uri.getScheme() == "http") && !uri.getHost().empty() &&
                           uri.getUserInfo().empty() && uri.getPath().empty() && uri.getRawQuery().empty() &&
                           uri.getFragment().empty() && !rest_encoding::hasControlCharacter(base) &&
                           base.find(' ') == std::string::npos;
        if (valid) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_helpDeskUrl = base;
            return true;
        }
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CZendeskRequestCreator::setHelpDeskUrl: " << exceptionText(e));
    }
    FV_LOG_ERROR("CZendeskRequestCreator::setHelpDeskUrl: refusing a help desk URL that is not http(s)://host[:port]");
    return false;
}

std::string CZendeskRequestCreator::getHelpDeskUrl() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_helpDeskUrl;
}

void CZendeskRequestCreator::startReportCreation(const std::list<std::string>& files, const std::string& name,
                                                 const std::string& email, const std::string& subject,
                                                 const std::string& description)
{
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        forgetFinishedReports();
        // The slot is made first: once the task runs, nothing may fail, or the task's future
        // would be dropped (and waited for) here and its report counted twice.
        m_reports.emplace_back();
        try {
            m_reports.back() =
                std::async(std::launch::async, [this, url = m_helpDeskUrl, files, name, email, subject, description] {
                    report(url, files, name, email, subject, description);
                });
        } catch (...) {
            m_reports.pop_back();
            throw;
        }
        return;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Error occured while creating an error report: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("Error occured while creating an error report: unknown exception");
    }
    notify(dt_general_error);
}

void CZendeskRequestCreator::createReport(const std::list<std::string>& files, const std::string& name,
                                          const std::string& email, const std::string& subject,
                                          const std::string& description)
{
    report(getHelpDeskUrl(), files, name, email, subject, description);
}

void CZendeskRequestCreator::report(const std::string& helpDeskUrl, const std::list<std::string>& files,
                                    const std::string& name, const std::string& email, const std::string& subject,
                                    const std::string& description)
{
    // The result is settled before the callback runs, so that whatever the callback does,
    // it is called once.
    dt_error result = dt_general_error;
    try {
        result = sendReport(helpDeskUrl, files, name, email, subject, description);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Error occured while creating an error report: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("Error occured while creating an error report: unknown exception");
    }
    notify(result);
}

void CZendeskRequestCreator::notify(dt_error result)
{
    if (!m_callback) {
        FV_LOG_INFO("Error report finished with result " << result);
        return;
    }
    try {
        m_callback->onReportResult(result);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("The error report's callback threw: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("The error report's callback threw an unknown exception");
    }
}

void CZendeskRequestCreator::forgetFinishedReports()
{
    for (auto it = m_reports.begin(); it != m_reports.end();) {
        if (it->wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            it = m_reports.erase(it);
        else
            ++it;
    }
}

} // namespace fv_transfers
