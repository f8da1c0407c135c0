#pragma once
// The program's modal message boxes: error, warning and confirmation, centred on the screen,
// with Polish titles and buttons. A '\r' in a text starts a new line.

#include <QString>

#include "OperatorBoxes.h"

// "Błąd", stop icon, "OK".
void ShowErrorBox(const QString& text);
// "Ostrzeżenie", exclamation icon, "OK".
void ShowWarningBox(const QString& text);
// "Potwierdzenie", question icon, "&Tak" / "&Nie". Enter answers Tak, Escape answers Nie,
// the title bar's close button gives Closed.
ConfirmAnswer AskConfirmationBox(const QString& text);

// The box for an error that escaped a handler: stop icon, "OK", titled with the application
// title (the program file's name up to its first dot, letters after the first in lower case).
void ShowEscapedErrorBox(const QString& message);

// The application title made from a program file path ("/x/PROJECT1.EXE" gives "Project1").
QString ApplicationTitle(const QString& programPath);
// The message of an escaped error: a full stop is appended when the text is not empty and its
// last character sorts after '.'.
QString EscapedErrorText(const QString& message);
