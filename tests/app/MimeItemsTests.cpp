#include "app/Desktop/MimeItems.h"

#include <gtest/gtest.h>

#include <QMimeData>

namespace {

// What each item holds, as "file:PATH" or "text:TEXT".
std::vector<std::string> held(const DraggedItems& items) {
    std::vector<std::string> found;
    for (const auto& item : items) {
        if (item->hasFileURL()) item->loadFileURL([&](std::optional<QUrl> url) {
            found.push_back("file:" + url.value().toLocalFile().toStdString());
        });
        else item->loadText([&](std::optional<std::string> text) { found.push_back("text:" + text.value()); });
    }
    return found;
}

TEST(MimeItems, FilesWebAddressesAndRowsAsTheModelTakesThem) {
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a b.mov"), QUrl("https://example.com/c.mov")});
    EXPECT_EQ(held(mimeItems(files)), (std::vector<std::string>{"file:/tmp/a b.mov", "text:https://example.com/c.mov"}));
    QMimeData rows;
    rows.setText("a0123456789\na9876543210\n");
    EXPECT_EQ(held(mimeItems(rows)), (std::vector<std::string>{"text:a0123456789", "text:a9876543210"}));
    EXPECT_TRUE(mimeItems(QMimeData()).empty());
}

} // namespace
