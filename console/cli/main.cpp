// quellin: the console's maintenance operations from the command line.
#include "program_folder.h"
#include "quellin_cli.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return quellin::cli::RunQuellin(args, quellin::GetProgramFolder(), std::cout, std::cerr);
}
