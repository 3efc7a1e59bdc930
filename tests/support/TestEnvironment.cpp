#include "support/TestEnvironment.h"

#include <Poco/File.h>
#include <Poco/Path.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fv_test {

void prepareProcessEnvironment()
{
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "FTP_PROXY"}) {
        ::unsetenv(name);
    }
}

TempDir::TempDir()
{
    std::string pattern = Poco::Path::temp() + "fvtest-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    try {
        Poco::File(m_path).remove(true);
    } catch (...) {
    }
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace fv_test
