// Netprov: the auto-provisioning CGI program, one process per request.
#include "netprov.h"

#include <iostream>

int main() {
    return quellin::netprov::run(std::cin, std::cout, quellin::netprov::ProcessEnvironment());
}
