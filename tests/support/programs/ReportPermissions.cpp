// Answers the file-permission question as whoever runs it (the tests start it as another user):
// for each path after the first argument, the mask on a line of the file the first names.
#include "shell/FilePermissionsRetriever.h"

#include <fstream>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const auto retriever = ferrovan::createFilePermissionsRetriever();
    std::ofstream out(argv[1], std::ios::trunc);
    for (int i = 2; i < argc; ++i)
        out << retriever->getPermissions(argv[i]) << '\n';
    return out.flush() ? 0 : 1;
}
