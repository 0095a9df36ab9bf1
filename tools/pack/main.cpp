// brevant-pack: see --help, or pack.h for the image layout.
#include <iostream>

#include "pack.h"

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return pack::PackMain(args, std::cout, std::cerr);
}
