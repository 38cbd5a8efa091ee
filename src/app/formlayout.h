// The description of the main window's components.
#pragma once

#include <QSize>

class QImage;
class TFormMain;

// Makes the window's components with their names, captions, sizes and
// places, lays the window out (the diagnostic modes use the map area before
// the window is ever shown) and centres it on the screen. imgMap shows
// mapPicture.
void BuildFormComponents(TFormMain& form, const QImage* mapPicture);

// The smallest window: the top panel and the status bar still show whole.
inline constexpr QSize kFormMinimumSize(960, 320);

// The window's actions: Ctrl+O opens a store, Ctrl+W closes it, Ctrl+Q
// quits, F11 turns full screen on and off.
void BuildFormActions(TFormMain& form);

// Binds the components' events to the window's handlers; UnbindFormEvents
// cuts those links again, before the window's members go.
void BindFormEvents(TFormMain& form);
void UnbindFormEvents(TFormMain& form);
