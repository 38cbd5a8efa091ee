// The dialogs and message boxes of the main window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "geopackage.h"

class QFileDialog;
class QWidget;

// Runs the open dialog (made on first use, kept in dialog) for a tile store;
// the chosen file, or an empty text when the user cancels.
std::string ChooseStoreFile(QWidget* parent, QFileDialog*& dialog);

// Asks which tile table of a GeoPackage to open: the tables sorted by name,
// each with its identifier beside it. The chosen table's name, or nothing
// when the user cancels.
std::optional<std::string> ChooseGeoPackageTable(
    QWidget* parent, const std::vector<corvalis::GeoPackageTable>& tables);

// A modal box with one OK button: an error, or a warning.
void ShowMessageBox(QWidget* parent, bool error, const std::string& text);
