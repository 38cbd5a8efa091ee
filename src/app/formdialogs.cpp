#include "formdialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>

#include <algorithm>

#include "textutil.h"

std::string ChooseStoreFile(QWidget* parent, QFileDialog*& dialog) {
    if (dialog == nullptr) dialog = new QFileDialog(parent);
    dialog->setWindowTitle("Open offline tile store");
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = {"Tile stores (*.mbtiles *.sqlitedb *.db *.gpkg *.pmtiles)",
                                 "MBTiles (*.mbtiles)",
                                 "SQLite (*.sqlitedb *.db)",
                                 "GeoPackage (*.gpkg)",
                                 "PMTiles (*.pmtiles)",
                                 "All files (*)"};
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    if (dialog->exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog->selectedFiles();
    // The name as the bytes the file system knows it by.
    return chosen.isEmpty() ? std::string() : QFile::encodeName(chosen.first()).toStdString();
}

std::optional<std::string> ChooseGeoPackageTable(
    QWidget* parent, const std::vector<corvalis::GeoPackageTable>& tables) {
    std::vector<corvalis::GeoPackageTable> sorted = tables;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    QDialog dialog(parent);
    dialog.setWindowTitle("Choose a tile table");
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    for (const corvalis::GeoPackageTable& t : sorted) {
        // Names and identifiers come from the file: shown with their controls escaped.
        std::string text = corvalis::EscapeControl(t.name);
        if (!t.identifier.empty()) text += "    " + corvalis::EscapeControl(t.identifier);
        list->addItem(QString::fromStdString(text));
    }
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
    return sorted[static_cast<std::size_t>(list->currentRow())].name;
}

void ShowMessageBox(QWidget* parent, bool error, const std::string& text) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Warning,
                    error ? "Error" : "Warning", QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);  // a file name is never markup
    box.exec();
}
