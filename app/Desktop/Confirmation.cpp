#include "app/Desktop/Confirmation.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

void shapeAlert(QMessageBox& box, const std::string& message, const std::string& informative) {
    constexpr int width = 380;
    box.setWindowTitle("vorlane Trelk");
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(informative));
    // The box itself sizes to its shortest.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

QMessageBox& confirm(QWidget& window, const std::string& title, const std::string& message, const QString& action,
                     std::function<void()> act) {
    auto* box = new QMessageBox(&window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    shapeAlert(*box, title, message);
    QPushButton* go = box->addButton(action, QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(go);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [go, act = std::move(act)](QAbstractButton* chosen) {
        if (chosen == go) act();
    });
    box->open();
    return *box;
}
