#pragma once
#include <QString>

#include <functional>
#include <string>

class QMessageBox;
class QWidget;

// A window-modal question before something that cannot be taken back: the action, the default, or
// "Cancel", also Escape. It returns at once; act runs only when the action is chosen. The box
// deletes itself once answered.
QMessageBox& confirm(QWidget& window, const std::string& title, const std::string& message, const QString& action,
                     std::function<void()> act);
