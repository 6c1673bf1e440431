#include "app/Desktop/QtDesktop.h"

#include "tests/support/OffscreenLoop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

class QtDesktopTest : public testing::Test {
protected:

    // Runs act on the modal dialog as soon as it is open.
    template <typename Dialog>
    void whenOpen(std::function<void(Dialog&)> act) {
        QTimer::singleShot(10, [act] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(*dialog);
        });
    }
    static void press(QWidget& widget, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&widget, &down);
    }

    OffscreenLoop loop;
    QtDesktop desktop;
};

TEST_F(QtDesktopTest, AlertsKeepTheCallersTextsAndButtonOrderWithTheFirstAsDefault) {
    std::vector<QString> seen;
    whenOpen<QMessageBox>([&](QMessageBox& box) {
        seen = {box.text(), box.informativeText()};
        const QList<QAbstractButton*> buttons = box.buttons();
        ASSERT_EQ(buttons.size(), 2);
        QAbstractButton* allow = buttons[0]->text() == "Allow" ? buttons[0] : buttons[1];
        QAbstractButton* deny = allow == buttons[0] ? buttons[1] : buttons[0];
        EXPECT_EQ(deny->text(), "Don't Allow");
        EXPECT_LT(allow->mapToGlobal(QPoint()).x(), deny->mapToGlobal(QPoint()).x()) << "in the given order";
        EXPECT_EQ(box.defaultButton(), allow);
        press(box, Qt::Key_Return);
    });
    EXPECT_EQ(desktop.alert({"Allow VorlaneWeb to use your library?", "Code 1234", {"Allow", "Don't Allow"}}), 0u);
    EXPECT_EQ(seen, (std::vector<QString>{"Allow VorlaneWeb to use your library?", "Code 1234"}));

    whenOpen<QMessageBox>([](QMessageBox& box) { press(box, Qt::Key_Escape); });
    EXPECT_EQ(desktop.alert({"Allow?", "", {"Allow", "Don't Allow"}}), 1u) << "Escape answers with the last";

    whenOpen<QMessageBox>([](QMessageBox& box) {
        ASSERT_EQ(box.buttons().size(), 1);
        EXPECT_EQ(box.buttons()[0]->text(), "OK");
        press(box, Qt::Key_Return);
    });
    EXPECT_EQ(desktop.alert({"Couldn't check for updates."}), 0u) << "no buttons: one default";

    EXPECT_EQ(desktop.alert({"Allow?", "", {"Allow"}, std::chrono::steady_clock::now()}), std::nullopt)
        << "withdrawn unanswered";
}

TEST_F(QtDesktopTest, TheChooserTakesSeveralFilesOfTheGivenKindsAndCanBeCancelled) {
    whenOpen<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(dialog.labelText(QFileDialog::Accept), "Add");
        EXPECT_EQ(dialog.nameFilters(), QStringList{"Masters (*.mov *.MOV *.png *.PNG)"});
        dialog.reject();
    });
    EXPECT_EQ(desktop.chooseFiles({{"mov", "png"}, "Add"}), std::nullopt);
}

} // namespace
