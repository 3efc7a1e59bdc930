// Stands in for the program in tests that start it: writes its arguments, one a line, to the
// file "args.<pid>" in the folder FV_RECORD_ARGS_DIR names. The file appears whole (written
// aside, then renamed).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    const char* folder = std::getenv("FV_RECORD_ARGS_DIR");
    if (folder == nullptr)
        return 2;
    const std::string target = std::string(folder) + "/args." + std::to_string(getpid());
    const std::string aside = target + ".part";
    {
        std::ofstream out(aside, std::ios::binary);
        for (int i = 0; i < argc; ++i)
            out << argv[i] << '\n';
        if (!out.flush())
            return 1;
    }
    return std::rename(aside.c_str(), target.c_str()) == 0 ? 0 : 1;
}
