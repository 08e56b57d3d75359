// quellin: the console's maintenance operations from the command line.
#include "program_folder.h"
#include "quellin_cli.h"

#include <sys/stat.h>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // The logs and files quellin creates stay writable for the
    // installation's group, which Netprov shares.
    ::umask(002);
    std::vector<std::string> args(argv + 1, argv + argc);
    return quellin::cli::RunQuellin(args, quellin::GetProgramFolder(), std::cout, std::cerr);
}
