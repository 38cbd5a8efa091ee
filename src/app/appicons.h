// The icons bundled with the program (drawn at build time from
// resources/icons/*.svg), as fallbacks for the desktop theme's icons.
#pragma once

#include <QIcon>
#include <QString>

namespace corvalis {

// Every size of ":/icons/NAME-SIZE.png"; a null icon for an unknown name.
QIcon BundledIcon(const QString& name);

// The desktop theme's icon themeName, or the bundled icon bundledName where
// the theme has none (bundled names: document-open, zoom-in, zoom-out,
// overview, layers, corvalis).
QIcon ThemeIcon(const QString& themeName, const QString& bundledName);

// The application's own icon, as installed under hicolor or bundled.
QIcon ApplicationIcon();

}  // namespace corvalis
