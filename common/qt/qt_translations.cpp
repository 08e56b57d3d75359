#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace quellin {

bool InstallQtJapaneseTranslation() {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr)
        return false;
    // Owned by the application, so it lives exactly as long as the texts
    // it translates can be shown.
    auto* translator = new QTranslator(application);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace quellin
