// Syslogd: the syslog server of the operations system.  No arguments.
#include "qt_translations.h"
#include "syslogd_application.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    quellin::InstallQtJapaneseTranslation();
    return quellin::syslogd::RunSyslogd();
}
