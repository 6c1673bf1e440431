#pragma once
#include <QString>

#include <functional>
#include <string>

class QMessageBox;
class QWidget;

// The application's look of an alert: its title, the message and the informative text as plain
// text, and a width that keeps a line such as the pairing code's whole.
void shapeAlert(QMessageBox& box, const std::string& message, const std::string& informative);

// A window-modal question before something that cannot be taken back: the action, the default, or
// "Cancel", also Escape. It returns at once; act runs only when the action is chosen. The box
// deletes itself once answered.
QMessageBox& confirm(QWidget& window, const std::string& title, const std::string& message, const QString& action,
                     std::function<void()> act);
