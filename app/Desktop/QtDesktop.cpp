#include "app/Desktop/QtDesktop.h"

#include "app/Desktop/Confirmation.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

constexpr const char* title = "vorlane Trelk";

QUrl addressURL(const std::string& address) {
    if (address.starts_with("https://")) return QUrl(QString::fromStdString(address));
    return QUrl::fromLocalFile(QFile::decodeName(address.c_str()));
}

// "Masters (*.mov *.MOV …)": the file dialog matches names as they are written.
QString nameFilter(const std::vector<std::string>& extensions) {
    QStringList patterns;
    for (const std::string& extension : extensions) {
        const QString lower = QString::fromStdString(extension);
        patterns << "*." + lower << "*." + lower.toUpper();
    }
    return "Masters (" + patterns.join(' ') + ")";
}

} // namespace

void QtDesktop::activate() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->isWindow()) {
            window->raise();
            window->activateWindow();
        }
}

// The buttons stay in the caller's order: one role for all of them, the first the default and
// the last the answer to Escape or to closing the box.
std::optional<size_t> QtDesktop::alert(const Alert& alert) {
    QMessageBox box;
    shapeAlert(box, alert.message, alert.informative);
    std::vector<QAbstractButton*> buttons;
    for (const std::string& text : alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons)
        buttons.push_back(box.addButton(QString::fromStdString(text), QMessageBox::ActionRole));
    box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    box.setEscapeButton(buttons.back());
    bool withdrawn = false;
    if (alert.until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*alert.until - std::chrono::steady_clock::now());
        QTimer::singleShot(std::max<int64_t>(left.count(), 0), &box, [&] {
            withdrawn = true;
            box.reject();
        });
    }
    box.exec();
    if (withdrawn) return std::nullopt;
    const auto chosen = std::ranges::find(buttons, box.clickedButton());
    return chosen == buttons.end() ? buttons.size() - 1 : size_t(chosen - buttons.begin());
}

std::optional<std::vector<fs::path>> QtDesktop::chooseFiles(const FileChoice& choice) {
    QFileDialog dialog(nullptr, title);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(nameFilter(choice.extensions));
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(choice.confirm));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<fs::path> chosen;
    for (const QString& file : dialog.selectedFiles()) chosen.emplace_back(QFile::encodeName(file).toStdString());
    return chosen;
}

void QtDesktop::open(const std::string& address) {
    QDesktopServices::openUrl(addressURL(address));
}

// The file manager shows the files selected; without one on the bus, their folder opens.
void QtDesktop::reveal(const std::vector<fs::path>& files) {
    if (files.empty()) return;
    QStringList uris;
    for (const fs::path& file : files) uris << addressURL(file).toString(QUrl::FullyEncoded);
    const std::string folder = files.front().parent_path();
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher* done) {
        if (done->isError()) QDesktopServices::openUrl(addressURL(folder));
        done->deleteLater();
    });
}

void QtDesktop::quit() {
    QApplication::quit();
}
