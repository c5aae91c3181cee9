// The font every Zelmod window uses: one that has the glyphs of its Japanese texts.
#pragma once

#include <QFont>

QFont japaneseWindowFont();

class QWidget;

// Makes that font the application's, so that the message boxes and file
// dialogs use it as the windows do, and the window's own. Each window calls
// it when made.
void useWindowFontEverywhere(QWidget& window);
