#pragma once
#include "TrelkCore/Platform/Files.h"

#include <QLocalServer>
#include <QObject>

#include <filesystem>
#include <string>

// One service per user: the first start holds a lock file and listens on a local socket beside
// it; a later start finds the lock taken and asks the running one, over the socket, to open its
// window.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // $XDG_RUNTIME_DIR, or else a private folder of the user's own under the temporary folder.
    static std::filesystem::path standardFolder();
    explicit SingleInstance(std::filesystem::path folder = standardFolder());

    // True when this process is now the one instance: the lock is held and the socket listens.
    // Throws when the folder cannot hold them (missing and not creatable, or not the user's own).
    bool claim();
    // The lock alone: true when no instance runs, and none can start while this one lives.
    // Throws as claim does.
    bool claimLock();
    // Asks the running instance to open its window, handing over the token the desktop gave this
    // start to bring a window to the front (Wayland's activation).
    enum class Answer { opened, headless, none };
    Answer askToOpen(const std::string& activationToken = {});
    // This instance has no windows (`serve`): a later start is told so rather than that one opened.
    void withoutWindows() { windows = false; }

signals:
    // The running instance was asked to open its window (a later start of the application);
    // the token is empty when that start was given none.
    void openAsked(const QString& activationToken);

private:
    void privateFolder() const;
    void accept();

    std::filesystem::path folder;
    std::filesystem::path socketPath;
    bool windows = true;
    Files::Descriptor lock;
    // After the lock, so that the socket file goes before the lock is let go.
    QLocalServer server;
};
