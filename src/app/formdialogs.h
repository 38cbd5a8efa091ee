// The dialogs and message boxes of the main window.
#pragma once

#include <string>

class QFileDialog;
class QWidget;

// Runs the open dialog (made on first use, kept in dialog) for a tile store;
// the chosen file, or an empty text when the user cancels.
std::string ChooseStoreFile(QWidget* parent, QFileDialog*& dialog);

// A modal box with one OK button: an error, or a warning.
void ShowMessageBox(QWidget* parent, bool error, const std::string& text);
