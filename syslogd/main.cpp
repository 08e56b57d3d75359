// Syslogd: the syslog server of the operations system.  No arguments.
#include "qt_translations.h"
#include "syslogd_application.h"

#include <QApplication>

int main(int argc, char** argv) {
    // Only one instance runs: a second one ends at once and silently, before
    // it so much as connects to the display.
    auto instance = quellin::syslogd::TakeInstanceLock();
    if (!instance)
        return 0;
    QApplication application(argc, argv);
    quellin::InstallQtJapaneseTranslation();
    return quellin::syslogd::RunSyslogd(std::move(instance));
}
