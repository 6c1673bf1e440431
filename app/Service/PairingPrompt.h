#pragma once
#include "TrelkCore/Error.h"

#include <QObject>

#include <deque>
#include <functional>
#include <string>

class DesktopServices;
class Pairing;

// Asks the user to confirm a browser's pairing code, one dialog at a time. Requests come on the
// server's thread; the dialogs run on the main thread, which this object lives on.
class PairingPrompt : public QObject {
public:
    // answered runs on the main thread after each answer the pairing store took.
    PairingPrompt(Pairing& pairing, DesktopServices& desktop, std::function<void()> answered);

    // Any thread.
    void ask(std::string id, std::string code, std::string origin);

private:
    struct Ask {
        std::string id;
        std::string code;
        std::string origin;
    };
    void askAll();
    std::optional<Ask> next();
    void show(const Ask& ask);

    Pairing& pairing;
    DesktopServices& desktop;
    std::function<void()> answered;
    // Filled on the server's thread, emptied by the one dialog at a time.
    LockedBox<std::deque<Ask>> asks;
    bool asking = false;
};
