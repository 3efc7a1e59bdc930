#include "shell/CommandLineParser.h"

#include "shell/DataKinds.h"
#include "shell/ExceptionText.h"

#include <Poco/NumberParser.h>

#include <exception>
#include <functional>
#include <map>

namespace ferrovan {

namespace {

const char kWaitForPidOption[] = "--wait-for-pid";
const char kResetLocalDbOption[] = "--reset-local-db";
const char kResetWebCacheOption[] = "--reset-web-cache";
const char kResetLogsOption[] = "--reset-logs";
const char kResetSettingsOption[] = "--reset-settings";

// What an option does with its value (empty when it has none).
using OptionRule = std::function<void(const std::string& value, CommandLineArguments& out)>;

OptionRule appendKinds(std::vector<int> kinds)
{
    return [kinds](const std::string&, CommandLineArguments& out) {
        out.dataKinds.insert(out.dataKinds.end(), kinds.begin(), kinds.end());
    };
}

OptionRule storeString(int key)
{
    return [key](const std::string& value, CommandLineArguments& out) { out.stringOptions[key] = value; };
}

const std::map<std::string, OptionRule>& optionTable()
{
    static const std::map<std::string, OptionRule> table = {
        {"--remove-cef-log", [](const std::string&, CommandLineArguments& out) { out.removeCefLog = true; }},
        {kWaitForPidOption,
         [](const std::string& value, CommandLineArguments& out) {
             out.waitForPid = Poco::NumberParser::parseUnsigned(value, ',');
         }},
        {"--app-url", storeString(CommandLineArguments::kAppUrl)},
        {"--rest-path", storeString(CommandLineArguments::kRestPath)},
        {"--rest-endpoint-url", storeString(CommandLineArguments::kRestEndpointUrl)},
        {"--disable-autoupdate", storeString(CommandLineArguments::kDisableAutoupdate)},
        {"--reset-data", appendKinds({kLocalDatabase, kWebDataAndCache, kLogs, kSettings})},
        {kResetLocalDbOption, appendKinds({kLocalDatabase})},
        {kResetWebCacheOption, appendKinds({kWebDataAndCache})},
        {kResetLogsOption, appendKinds({kLogs})},
        {kResetSettingsOption, appendKinds({kSettings})},
    };
    return table;
}

} // namespace

CommandLineParser::NoSuitableOptionForDataTypeException::NoSuitableOptionForDataTypeException(int dataKind)
    : std::invalid_argument("Option for data type " + std::to_string(dataKind) + " is not supported!")
{
}

void CommandLineParser::parse(int argc, const char* const* argv, CommandLineArguments& out)
{
    const auto& table = optionTable();
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto option = table.find(name);
        if (option == table.end())
            continue;
        std::string value;
        if (i + 1 < argc && !isOption(argv[i + 1]))
            value = argv[++i];
        try {
            option->second(value, out);
        } catch (const std::exception& e) {
            out.warnings.push_back("ferrovan::CommandLineParser::parse: Ignoring option " + name + " with value \"" +
                                   value + "\": " + exceptionText(e));
        }
    }
}

std::string CommandLineParser::getOptionForDataType(int dataKind)
{
    switch (dataKind) {
    case kLocalDatabase: return kResetLocalDbOption;
    case kWebDataAndCache: return kResetWebCacheOption;
    case kLogs: return kResetLogsOption;
    case kSettings: return kResetSettingsOption;
    default: throw NoSuitableOptionForDataTypeException(dataKind);
    }
}

std::string CommandLineParser::getWaitForPidOption()
{
    return kWaitForPidOption;
}

bool CommandLineParser::isOption(const std::string& argument)
{
    return argument.compare(0, 2, "--") == 0;
}

} // namespace ferrovan
