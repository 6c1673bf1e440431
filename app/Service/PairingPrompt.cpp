#include "app/Service/PairingPrompt.h"

#include "app/Service/DesktopServices.h"

#include "TrelkCore/Service/Pairing.h"

#include <QMetaObject>
#include <QPointer>

PairingPrompt::PairingPrompt(Pairing& pairing, DesktopServices& desktop, std::function<void()> answered)
    : pairing(pairing), desktop(desktop), answered(std::move(answered)) {}

// No more asks wait than requests are kept pending, and the main thread is woken once for a
// flood of them, so a flood costs neither memory nor dialogs.
void PairingPrompt::ask(std::string id, std::string code, std::string origin) {
    const bool wasEmpty = asks.with([&](std::deque<Ask>& waiting) {
        waiting.push_back({std::move(id), std::move(code), std::move(origin)});
        if (waiting.size() > Pairing::mostPending) waiting.pop_front();
        return waiting.size() == 1;
    });
    if (!wasEmpty) return;
    QPointer<PairingPrompt> prompt(this);
    QMetaObject::invokeMethod(this, [prompt] {
        if (prompt) prompt->askAll();
    }, Qt::QueuedConnection);
}

// One dialog at a time: a dialog's own event loop may come back here, and then leaves the rest
// to the loop below.
void PairingPrompt::askAll() {
    if (asking) return;
    asking = true;
    while (std::optional<Ask> ask = next()) show(*ask);
    asking = false;
}

std::optional<PairingPrompt::Ask> PairingPrompt::next() {
    return asks.with([](std::deque<Ask>& waiting) -> std::optional<Ask> {
        if (waiting.empty()) return std::nullopt;
        Ask first = std::move(waiting.front());
        waiting.pop_front();
        return first;
    });
}

void PairingPrompt::show(const Ask& ask) {
    const std::optional<std::chrono::duration<double>> left = pairing.timeLeft(ask.id);
    if (!left) return; // answered, expired or dropped while it waited
    desktop.activate();
    const std::optional<size_t> chosen = desktop.alert(
        {"Allow VorlaneWeb to use your library?", "Code " + ask.code + " · check it matches the page\n" + ask.origin,
         {"Allow", "Don't Allow"},
         std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(*left)});
    if (!chosen) return; // withdrawn: the request expired while the dialog was open
    pairing.answer(ask.id, *chosen == 0 ? Pairing::Decision::allow : Pairing::Decision::deny);
    answered();
}
