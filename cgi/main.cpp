// Netprov: the auto-provisioning CGI program, one process per request.
#include "netprov.h"

#include <sys/stat.h>

#include <iostream>

int main() {
    // The operation logs and configuration files Netprov creates stay
    // writable for the installation's group, which the console shares.
    ::umask(002);
    return quellin::netprov::run(std::cin, std::cout, quellin::netprov::ProcessEnvironment());
}
