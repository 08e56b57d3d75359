// Qt's own texts (the standard buttons of message boxes, the file and
// folder pickers) in Japanese, like everything else in the windows.
#pragma once

namespace quellin {

// Installs Qt's Japanese translation (qtbase_ja.qm from Qt's translations
// folder) into the running application, whatever the desktop's language:
// the programs' own texts are Japanese everywhere.  Call once, after the
// QApplication exists.  Where the file is not installed nothing happens
// and Qt's texts stay English; the result says whether it was installed.
bool InstallQtJapaneseTranslation();

}  // namespace quellin
