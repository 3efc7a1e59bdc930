#pragma once

#include <string>

namespace fv_test {

// Tests never leave this machine: proxy variables are cleared before anything reads them.
void prepareProcessEnvironment();

// A fresh folder under the system temp dir, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole-file helpers for fixtures.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

} // namespace fv_test
