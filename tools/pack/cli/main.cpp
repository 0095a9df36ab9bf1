// brevant-pack: see --help, or core/core.h for the image layout.
#include <iostream>

#include "cli/cli.h"
#include "os/os.h"

int main(int argc, char **argv)
{
    return pack::PackMain(pack::ProgramArguments(argc, argv), std::cout, std::cerr);
}
