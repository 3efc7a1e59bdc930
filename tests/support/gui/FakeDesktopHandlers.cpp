#include "support/gui/FakeDesktopHandlers.h"

#include "support/gui/MainContextWait.h"

#include <glib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>

namespace fv_test {

namespace {

const char* const kBrowserId = "fv-fake-browser.desktop";
const char* const kFileManagerId = "fv-fake-file-manager.desktop";

std::string requiredFolder(const char* variable)
{
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] != '/')
        throw std::runtime_error(std::string(variable) + " is not set: run the test in the session wrapper");
    return value;
}

std::vector<std::string> linesOfFile(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> awaitLines(const std::string& path, std::size_t count, std::chrono::milliseconds deadline)
{
    std::vector<std::string> lines;
    runMainContextUntil(
        [&] {
            lines = linesOfFile(path);
            return lines.size() >= count;
        },
        deadline);
    return lines;
}

} // namespace

FakeDesktopHandlers::FakeDesktopHandlers()
    : m_browserRecord(m_dir.file("browser.calls")), m_fileManagerRecord(m_dir.file("file-manager.calls"))
{
    const std::string applications = requiredFolder("XDG_DATA_HOME") + "/applications";
    ::mkdir(applications.c_str(), 0700);
    writeFile(applications + "/" + kBrowserId,
              writeHandler("Fake Browser", "x-scheme-handler/http;x-scheme-handler/https;", m_browserRecord));
    writeFile(applications + "/" + kFileManagerId,
              writeHandler("Fake File Manager", "inode/directory;", m_fileManagerRecord));
    writeFile(requiredFolder("XDG_CONFIG_HOME") + "/mimeapps.list",
              std::string("[Default Applications]\n") + "x-scheme-handler/http=" + kBrowserId + "\n" +
                  "x-scheme-handler/https=" + kBrowserId + "\n" + "inode/directory=" + kFileManagerId + "\n");
    clear();
}

// The script takes the address as one argument (%u) and writes it as given.
std::string FakeDesktopHandlers::writeHandler(const std::string& name, const std::string& mimeTypes,
                                              const std::string& record)
{
    const std::string script = record + ".sh";
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n");
    ::chmod(script.c_str(), 0755);
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + script + " %u\nMimeType=" + mimeTypes +
           "\nNoDisplay=true\n";
}

std::vector<std::string> FakeDesktopHandlers::browserCalls() const
{
    return linesOfFile(m_browserRecord);
}

std::vector<std::string> FakeDesktopHandlers::fileManagerCalls() const
{
    return linesOfFile(m_fileManagerRecord);
}

std::vector<std::string> FakeDesktopHandlers::awaitBrowserCalls(std::size_t count,
                                                                std::chrono::milliseconds deadline) const
{
    return awaitLines(m_browserRecord, count, deadline);
}

std::vector<std::string> FakeDesktopHandlers::awaitFileManagerCalls(std::size_t count,
                                                                    std::chrono::milliseconds deadline) const
{
    return awaitLines(m_fileManagerRecord, count, deadline);
}

void FakeDesktopHandlers::clear()
{
    writeFile(m_browserRecord, "");
    writeFile(m_fileManagerRecord, "");
}

} // namespace fv_test
