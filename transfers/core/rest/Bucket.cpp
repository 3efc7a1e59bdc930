#include "core/rest/Bucket.h"

#include "core/base/ExceptionText.h"
#include "core/base/StringConversion.h"
#include "core/files/FileUrl.h"
#include "core/files/LocalFileInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiBucketAddFiles.h"
#include "core/rest/RestApiBucketInit.h"
#include "core/rest/RestApiLogin.h"

#include <Poco/Path.h>

#include <exception>
#include <optional>

namespace fv_transfers {

CBucket::CBucket(const UserCredentials& credentials, const std::string& summary)
    : m_summary(summary), m_credentials(credentials)
{
}

dt_error CBucket::login()
{
    try {
        CRestApiLogin call;
        dt_error result = call.execute(m_credentials.userId, m_credentials.password);
        if (result != dt_success)
            return result;
        LoginResult answer;
        result = call.getResult(answer);
        if (result == dt_success) {
            m_loginToken = answer.token;
            m_loginTokenExpires = answer.tokenExpires;
        }
        return result;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CBucket::login: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("CBucket::login: unknown exception");
    }
    return dt_general_error;
}

CBucket::bucketDesc CBucket::init()
{
    try {
        return makeBucket();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CBucket::init: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("CBucket::init: unknown exception");
    }
    return bucketDesc();
}

CBucket::bucketDesc CBucket::makeBucket()
{
    if (login() != dt_success)
        return bucketDesc();
    CRestApiBucketInit call;
    BucketInitResult answer;
    if (call.execute({m_loginToken, m_loginTokenExpires},
                     m_summary.empty() ? std::string(kDefaultBucketSummary) : m_summary) != dt_success ||
        call.getResult(answer) != dt_success)
        return bucketDesc();
    m_bucketId = answer.bucketId;
    m_bucketToken = answer.token;
    bucketDesc desc;
    desc.bucketId = answer.bucketId;
    desc.bucketToken = answer.token;
    desc.bucketTokenExpires = answer.tokenExpires;
    desc.loginToken = m_loginToken;
    desc.loginTokenExpires = m_loginTokenExpires;
    return desc;
}

UploadFileDesc CBucket::addFile(std::wstring fileUrl)
{
    try {
        return registerFile(fileUrl);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CBucket::addFile: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("CBucket::addFile: unknown exception");
    }
    return UploadFileDesc();
}

UploadFileDesc CBucket::registerFile(const std::wstring& fileUrl)
{
    if (m_bucketId.empty()) {
        FV_LOG_ERROR("CBucket::addFile: no bucket; init must succeed first");
        return UploadFileDesc();
    }
    const std::optional<std::wstring> widePath = urlToLocalPath(fileUrl);
    if (!widePath) {
        FV_LOG_ERROR("CBucket::addFile: not a local file URL");
        return UploadFileDesc();
    }
    const std::string path = wideToUtf8(*widePath);
    NewFileDesc file;
    LocalFileInfo info;
    if (!readLocalFileInfo(path, info)) {
        FV_LOG_ERROR("CBucket::addFile: cannot read the file " << path);
        return UploadFileDesc();
    }
    file.name = Poco::Path(path).getFileName();
    file.size = info.size;
    file.createdMs = info.createdMs;
    file.modifiedMs = info.modifiedMs;

    AddFilesParams params;
    params.loginToken = m_loginToken;
    params.loginTokenExpiry = m_loginTokenExpires;
    params.bucketId = m_bucketId;
    params.bucketToken = m_bucketToken;
    params.files.push_back(file);
    CRestApiBucketAddFiles call;
    std::vector<AddedFileDetails> added;
    if (call.execute(params) != dt_success || call.getResult(added) != dt_success || added.empty() ||
        added.front().fileId.empty())
        return UploadFileDesc();
    UploadFileDesc desc;
    desc.fileUid = added.front().fileId;
    desc.fileUrl = fileUrl;
    return desc;
}

} // namespace fv_transfers
