// Syslogd: the syslog server of the operations system.  No arguments.
#include "syslogd_application.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    return quellin::syslogd::RunSyslogd();
}
