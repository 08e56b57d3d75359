// Fleetview: the web view's CGI program, one process per request, run with
// cgi-bin as its working directory like Netprov.
#include "installation_layout.h"
#include "web_api.h"

#include <iostream>

int main() {
    return quellin::web::run(std::cout, quellin::web::ProcessEnvironment(),
                             std::string(quellin::InstallationLayout::kSeenFromCgiFolder) + "/");
}
