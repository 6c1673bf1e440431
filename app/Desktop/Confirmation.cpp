#include "app/Desktop/Confirmation.h"

#include <QMessageBox>
#include <QPushButton>

QMessageBox& confirm(QWidget& window, const std::string& title, const std::string& message, const QString& action,
                     std::function<void()> act) {
    auto* box = new QMessageBox(&window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(title));
    box->setInformativeText(QString::fromStdString(message));
    QPushButton* go = box->addButton(action, QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(go);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [go, act = std::move(act)](QAbstractButton* chosen) {
        if (chosen == go) act();
    });
    box->open();
    return *box;
}
