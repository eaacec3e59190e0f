#pragma once

#include <functional>

class QMessageBox;
class QWidget;

// Shows an alert and reports its end to a callback with the alert's result (the role or
// standard button QMessageBox::finished gives). With a window the alert is window-modal on it
// (a sheet where the window system has them); without one it is application-modal. Either way
// the call returns at once. The alert is handed over: it deletes itself when closed.
// GUI thread only.
void ZELAlert_ShowWithWindow(QMessageBox* alert, QWidget* window,
                             std::function<void(int result)> didEnd);
