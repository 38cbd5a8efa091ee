#include "appicons.h"

#include <QDir>
#include <QStringList>

namespace corvalis {

QIcon BundledIcon(const QString& name) {
    QIcon icon;
    const QDir dir(QStringLiteral(":/icons"));
    for (const QString& file : dir.entryList({name + QStringLiteral("-*.png")}, QDir::Files))
        icon.addFile(dir.filePath(file));
    return icon;
}

QIcon ThemeIcon(const QString& themeName, const QString& bundledName) {
    return QIcon::fromTheme(themeName, BundledIcon(bundledName));
}

QIcon ApplicationIcon() {
    return ThemeIcon(QStringLiteral("corvalis"), QStringLiteral("corvalis"));
}

}  // namespace corvalis
