#pragma once

class QCoreApplication;

// Makes Qt's own texts (the file dialogs' labels, the message boxes' buttons)
// Japanese, as the rest of the program is, whatever the system locale. A
// missing translation file is no error: Qt then speaks English.
bool installQtJapaneseTranslation(QCoreApplication& app);
