// Webcfgpatch "<httpd.conf>" "<installation folder>" <port>
#include "httpd_conf_patcher.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return quellin::webcfgpatch::Run(arguments);
}
