// Small helpers of the window: texts and file names between the toolkit and
// the program, and the busy cursor.
#pragma once

#include <QApplication>
#include <QFile>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace formtext {

// The busy cursor for the whole application while an object lives.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A file name as the bytes the file system knows it by.
inline std::string LocalPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

inline std::vector<std::string> LocalPaths(const QStringList& texts) {
    std::vector<std::string> bytes;
    for (const QString& text : texts) bytes.push_back(LocalPath(text));
    return bytes;
}

}  // namespace formtext
