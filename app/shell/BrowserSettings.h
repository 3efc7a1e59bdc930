#pragma once

#include <string>

namespace ferrovan {

class AppEnvironment;

// How the browser host sets up the embedded browser. Every folder lies under the program's
// cache folder, so clearing that one folder clears all web data.
struct BrowserSettings {
    std::string dataDirectory;   // local storage, databases, service workers
    std::string cacheDirectory;  // HTTP and other disposable caches
    std::string cookiesFilePath; // SQLite, persistent
    std::string userAgent;
    std::string logFilePath;
    // The web application signs in and carries tokens: a certificate error fails the load.
    bool failOnTlsErrors = true;
    bool webProcessSandbox = true;
    // The page inspector in the context menu; for developers only.
    bool developerExtras = false;
};

// Both paths must be absolute, or web data would land in the working folder: throws
// std::invalid_argument otherwise. The web-process sandbox is off, and the developer extras on,
// in test mode only.
BrowserSettings makeBrowserSettings(const std::string& cacheFolder, const std::string& logFilePath,
                                    const std::string& userAgent, bool testMode);

// The settings for the program's own folders and user agent, the sandbox off in test mode.
BrowserSettings fillBrowserSettings(const AppEnvironment& environment);

} // namespace ferrovan
