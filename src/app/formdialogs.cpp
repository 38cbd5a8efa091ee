#include "formdialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

std::string ChooseStoreFile(QWidget* parent, QFileDialog*& dialog) {
    if (dialog == nullptr) dialog = new QFileDialog(parent);
    dialog->setWindowTitle("Open offline tile store");
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = {"Tile stores (*.mbtiles *.sqlitedb *.db)", "MBTiles (*.mbtiles)",
                                 "SQLite (*.sqlitedb *.db)", "All files (*)"};
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    if (dialog->exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog->selectedFiles();
    // The name as the bytes the file system knows it by.
    return chosen.isEmpty() ? std::string() : QFile::encodeName(chosen.first()).toStdString();
}

void ShowMessageBox(QWidget* parent, bool error, const std::string& text) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Warning,
                    error ? "Error" : "Warning", QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.exec();
}
