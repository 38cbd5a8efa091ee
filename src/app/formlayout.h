// The description of the main window's components.
#pragma once

class QImage;
class TFormMain;

// Makes the window's components with their names, captions, sizes and
// places, lays the window out (the diagnostic modes use the map area before
// the window is ever shown) and centres it on the screen. imgMap shows
// mapPicture.
void BuildFormComponents(TFormMain& form, const QImage* mapPicture);
