// Devrestart ADDRESS [NAME...]: started by Netprov in cgi-bin after a
// provisioning run; the installation folder is two levels up.
#include "devrestart.h"
#include "installation_layout.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return quellin::devrestart::RunDevrestart(arguments,
                                              quellin::InstallationLayout::kSeenFromCgiFolder,
                                              quellin::TelnetOptions{}, std::cerr);
}
