#include "app/Desktop/MimeItems.h"

#include <QMimeData>

#include <variant>

namespace {

// Everything is there when the drop comes: each answer is given at once.
class MimeItem : public DraggedItem {
public:
    explicit MimeItem(std::variant<QUrl, std::string> held) : held(std::move(held)) {}

    bool hasFileURL() const override { return std::holds_alternative<QUrl>(held); }
    void loadFileURL(Delivery<QUrl> deliver) override {
        deliver(hasFileURL() ? std::optional(std::get<QUrl>(held)) : std::nullopt);
    }
    void loadText(Delivery<std::string> deliver) override {
        deliver(hasFileURL() ? std::nullopt : std::optional(std::get<std::string>(held)));
    }

private:
    std::variant<QUrl, std::string> held;
};

} // namespace

DraggedItems mimeItems(const QMimeData& data) {
    DraggedItems items;
    if (data.hasUrls()) {
        // A web address is no file: it counts as its text.
        for (const QUrl& url : data.urls())
            items.push_back(url.isLocalFile() ? std::make_shared<MimeItem>(url)
                                              : std::make_shared<MimeItem>(url.toString().toStdString()));
        return items;
    }
    if (!data.hasText()) return items;
    for (const QString& line : data.text().split('\n', Qt::SkipEmptyParts))
        items.push_back(std::make_shared<MimeItem>(line.trimmed().toStdString()));
    return items;
}
