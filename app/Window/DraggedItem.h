#pragma once
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One dragged thing as a drop hands it over. What it holds may come later than the drop, or not
// at all: each delivery calls back at most once, on the main thread, with none when the item
// has no such thing or fails to give it.
class DraggedItem {
public:
    template <typename Thing>
    using Delivery = std::function<void(std::optional<Thing>)>;

    virtual ~DraggedItem() = default;
    virtual bool hasFileURL() const = 0;
    virtual void loadFileURL(Delivery<QUrl> deliver) = 0;
    virtual void loadText(Delivery<std::string> deliver) = 0;
};

using DraggedItems = std::vector<std::shared_ptr<DraggedItem>>;
