#pragma once

#include "shell/CommandLineArguments.h"

#include <stdexcept>
#include <string>

namespace ferrovan {

// Reads the program's options (exact, case-sensitive names); unknown arguments are skipped.
class CommandLineParser {
public:
    class NoSuitableOptionForDataTypeException : public std::invalid_argument {
    public:
        explicit NoSuitableOptionForDataTypeException(int dataKind);
    };

    // Argument 0 is the program. A known option takes the next argument as its value unless
    // that begins with "--". An option whose value is unusable is skipped with a warning kept
    // in `out.warnings`; the options after it still count.
    static void parse(int argc, const char* const* argv, CommandLineArguments& out);

    // The reset option of a data kind (0, 1, 2, 4); other kinds throw.
    static std::string getOptionForDataType(int dataKind);
    static std::string getWaitForPidOption();

    // Whether an argument names an option rather than giving a value.
    static bool isOption(const std::string& argument);
};

} // namespace ferrovan
