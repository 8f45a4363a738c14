// zoc: applies the library's effects to audio files.

#include <iostream>
#include <string>
#include <vector>

#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Zoc.h"

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    zoc::tool::RemoveTemporaryFilesOnSignals();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return zoc::tool::Run(arguments, std::cout, std::cerr);
}
