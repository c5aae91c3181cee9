// The font every Zelmod window uses: one that has the glyphs of its Japanese texts.
#pragma once

#include <QFont>

QFont japaneseWindowFont();
