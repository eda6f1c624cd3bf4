// What the tool sets up on its application object before the window opens.
#pragma once

class QApplication;

namespace tarvik {

// Name and version, the window's 9-point font, and Qt's own texts (dialog buttons, context menus)
// in Chinese where a translation is installed.
void setUpApplication(QApplication& app);

} // namespace tarvik
