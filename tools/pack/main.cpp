// brevant-pack: see --help, or pack.h for the image layout.
#include <iostream>

#include "pack.h"
#include "platform.h"

int main(int argc, char **argv)
{
    return pack::PackMain(pack::ProgramArguments(argc, argv), std::cout, std::cerr);
}
