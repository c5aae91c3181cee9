// The program's message boxes: modal, one OK button.
#pragma once

#include <QMessageBox>
#include <QString>

// Shows the box, wide enough for its caption and with its text in balanced
// lines, and returns when the user has answered it. Test hook: when
// the environment variable ZELMOD_TEST_ANSWER_MESSAGES is set, the box is not
// shown; one line "message box: ICON | CAPTION | TEXT" goes to standard error
// instead and the box counts as answered, so that the program can be tested
// as a separate process.
void showUserMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                     QWidget* parent = nullptr);
